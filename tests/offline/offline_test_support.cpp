#include "offline_test_support.h"

#include <hivex.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

#include "platform/offline/hive_file/regf.h"

namespace sorbantilex::offline::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "sorbantilex-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests make files read-only; give the bits back so removal succeeds.
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> FolderContents(
    const fs::path& folder) {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const auto name = fs::relative(entry.path(), folder).string();
    if (entry.file_size() > (std::uintmax_t{64} << 20)) {
      // A huge (sparse) file stands for itself by its size and time.
      const auto size = std::to_string(entry.file_size()) + " bytes, " +
                        std::to_string(entry.last_write_time().time_since_epoch().count());
      contents.emplace_back(name, std::vector<std::uint8_t>(size.begin(), size.end()));
      continue;
    }
    contents.emplace_back(name, ReadBytes(entry.path()));
  }
  std::sort(contents.begin(), contents.end());
  return contents;
}

HivePaths MakeHives(const fs::path& folder, std::uint32_t minor_version) {
  fs::create_directories(folder);
  HivePaths paths{folder / "SOFTWARE", folder / "SYSTEM", folder / "NTUSER.DAT",
                  "S-1-5-21-1004336348-1177238915-682003330-1000"};
  WriteBlankHive(paths.software, "CMI-CreateHive{SOFTWARE}", minor_version);
  WriteBlankHive(paths.system, "CMI-CreateHive{SYSTEM}", minor_version);
  WriteBlankHive(paths.user, "CMI-CreateHive{NTUSER}", minor_version);
  Seed(paths, [](HiveRegistry& registry) {
    CreatePath(registry, kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Control");
    CreatePath(registry, kHkeyLocalMachine, "SYSTEM\\Select");
    SetDword(registry, kHkeyLocalMachine, "SYSTEM\\Select", "Current", 1);
    CreatePath(registry, kHkeyLocalMachine, "SOFTWARE\\Microsoft");
    CreatePath(registry, kHkeyCurrentUser, "Software");
  });
  return paths;
}

void Seed(const HivePaths& paths, const std::function<void(HiveRegistry&)>& fill) {
  HiveRegistry registry(paths, true);
  fill(registry);
  CommitHooks hooks;
  hooks.keep_backup = false;
  const auto report = registry.Commit(hooks);
  ASSERT_TRUE(report.errors.empty()) << report.errors.front();
}

void CreatePath(RegistryApi& registry, KeyRef root, std::string_view path) {
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(root, path, 0, kRegistroAccess, &key, nullptr), kErrorSuccess)
      << path;
  registry.CloseKey(key);
}

namespace {
void Set(RegistryApi& registry, KeyRef root, std::string_view path, std::string_view name,
         std::uint32_t type, std::span<const std::uint8_t> data) {
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.OpenKey(root, path, 0, kRegistroAccess, &key), kErrorSuccess) << path;
  EXPECT_EQ(registry.SetValue(key, name, type, data), kErrorSuccess) << path << " " << name;
  registry.CloseKey(key);
}
}  // namespace

void SetText(RegistryApi& registry, KeyRef root, std::string_view path, std::string_view name,
             std::uint32_t type, std::string_view text) {
  Set(registry, root, path, name, type, Bytes(text));
}

void SetDword(RegistryApi& registry, KeyRef root, std::string_view path, std::string_view name,
              std::uint32_t value) {
  const std::array<std::uint8_t, 4> bytes{
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  Set(registry, root, path, name, kRegDword, bytes);
}

std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> Query(RegistryApi& registry,
                                                                         KeyRef root,
                                                                         std::string_view path,
                                                                         std::string_view name) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(root, path, 0, kKeyRead, &key) != kErrorSuccess) return std::nullopt;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> result;
  if (registry.QueryValue(key, name, &type, nullptr, &size) == kErrorSuccess) {
    std::vector<std::uint8_t> data(size);
    if (registry.QueryValue(key, name, &type, data.data(), &size) == kErrorSuccess) {
      data.resize(size);
      result.emplace(type, std::move(data));
    }
  }
  registry.CloseKey(key);
  return result;
}

std::optional<KeySnapshot> Snapshot(HiveRegistry& registry, KeyRef root, std::string_view path) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(root, path, 0, kKeyRead, &key) != kErrorSuccess) return std::nullopt;
  KeySnapshot snapshot;
  const auto slash = path.rfind('\\');
  snapshot.name = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
  KeySnapshot::Value value;
  for (std::uint32_t index = 0;
       registry.EnumValue(key, index, &value.name, &value.type, &value.data) == kErrorSuccess;
       ++index) {
    snapshot.values.push_back(value);
  }
  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    char name[512];
    std::uint32_t length = sizeof name;
    if (registry.EnumKey(key, index, name, &length) != kErrorSuccess) break;
    names.emplace_back(name, length);
  }
  registry.CloseKey(key);
  for (const auto& name : names) {
    const std::string child = path.empty() ? name : std::string(path) + "\\" + name;
    if (auto sub = Snapshot(registry, root, child)) snapshot.subkeys.push_back(std::move(*sub));
  }
  return snapshot;
}

std::string FirstDifference(const std::optional<KeySnapshot>& a,
                            const std::optional<KeySnapshot>& b, const std::string& path) {
  if (!a || !b) return a.has_value() == b.has_value() ? "" : path + ": present on one side only";
  if (a->name != b->name) return path + ": name " + a->name + " / " + b->name;
  const std::string here = path + "\\" + a->name;
  for (std::size_t i = 0; i < std::max(a->values.size(), b->values.size()); ++i) {
    if (i >= a->values.size()) return here + ": extra value " + b->values[i].name;
    if (i >= b->values.size()) return here + ": extra value " + a->values[i].name;
    if (!(a->values[i] == b->values[i])) {
      return here + ": value " + a->values[i].name + " (type " + std::to_string(a->values[i].type) +
             ", " + std::to_string(a->values[i].data.size()) + " bytes) / " + b->values[i].name +
             " (type " + std::to_string(b->values[i].type) + ", " +
             std::to_string(b->values[i].data.size()) + " bytes)";
    }
  }
  for (std::size_t i = 0; i < std::max(a->subkeys.size(), b->subkeys.size()); ++i) {
    if (i >= a->subkeys.size()) return here + ": extra subkey " + b->subkeys[i].name;
    if (i >= b->subkeys.size()) return here + ": extra subkey " + a->subkeys[i].name;
    const auto inner = FirstDifference(a->subkeys[i], b->subkeys[i], here);
    if (!inner.empty()) return inner;
  }
  return "";
}

std::vector<std::string> Reglookup(const fs::path& hive, std::string_view prefix) {
  std::vector<std::string> lines;
  const std::string command =
      "reglookup -H -p '" + std::string(prefix) + "' '" + hive.string() + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool HaveReglookup() { return std::system("command -v reglookup >/dev/null 2>&1") == 0; }

void DamageSubkeyList(const fs::path& hive, std::string_view key_path, ListDamage damage) {
  std::size_t node = 0;
  {
    std::unique_ptr<hive_h, int (*)(hive_h*)> h(hivex_open(hive.c_str(), 0), hivex_close);
    if (!h) throw std::runtime_error("cannot open " + hive.string());
    node = hivex_root(h.get());
    std::size_t start = 0;
    while (node != 0 && start <= key_path.size()) {
      const auto end = std::min(key_path.find('\\', start), key_path.size());
      node = hivex_node_get_child(h.get(), node,
                                  std::string(key_path.substr(start, end - start)).c_str());
      start = end + 1;
    }
  }
  auto bytes = ReadBytes(hive);
  auto at = [&](std::size_t offset) -> std::uint32_t {
    if (offset + 4 > bytes.size()) throw std::runtime_error("offset outside the hive");
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
  };
  // A key cell: its size, "nk", and the offset of its subkey list (from the
  // first bin) 28 bytes into the record.
  if (node == 0 || node + 36 > bytes.size() || bytes[node + 4] != 'n' || bytes[node + 5] != 'k')
    throw std::runtime_error("no key " + std::string(key_path) + " in " + hive.string());
  const std::size_t list = 0x1000 + at(node + 4 + 28);
  if (at(list) == 0 || list + 12 > bytes.size())
    throw std::runtime_error("no subkey list for " + std::string(key_path));
  if (damage == ListDamage::kSignature) {
    bytes[list + 4] = 'z';
    bytes[list + 5] = 'z';
  } else {
    const std::uint32_t outside = 0x7FFFFFF0;
    for (int i = 0; i < 4; ++i) bytes[list + 8 + i] = static_cast<std::uint8_t>(outside >> (8 * i));
  }
  WriteBytes(hive, bytes);
}

fs::path RealHivesFolder() {
  if (const char* set = std::getenv("SORBANTILEX_REAL_HIVES")) return set;
  const fs::path folder = SORBANTILEX_REAL_HIVES;
  std::error_code ignored;
  if (fs::exists(folder / "SYSTEM", ignored) && fs::exists(folder / "NTUSER.DAT", ignored)) {
    return folder;
  }
  return {};
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

CommandResult RunShell(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " </dev/null").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int raw = ::pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

}  // namespace sorbantilex::offline::testing
