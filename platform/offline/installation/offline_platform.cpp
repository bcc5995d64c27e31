#include "platform/offline/installation/offline_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include "platform/offline/paths.h"
#include "platform/offline/safe_files.h"
#include "registry/failure.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kErrorPathNotFound = 3;
constexpr std::int32_t kErrorAccessDeniedFailure = 5;

constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::string_view kEnvironment =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::string_view kServices = "SYSTEM\\CurrentControlSet\\Services";

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// A value of the registry as text (types 1 and 2), without trailing zeros.
std::optional<std::string> ReadText(RegistryApi& registry, std::string_view path,
                                    std::string_view name) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(kHkeyLocalMachine, path, 0, kKeyRead, &key) != kErrorSuccess)
    return std::nullopt;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::optional<std::string> text;
  if (registry.QueryValue(key, name, &type, nullptr, &size) == kErrorSuccess &&
      (type == kRegSz || type == kRegExpandSz)) {
    std::string data(size, '\0');
    if (registry.QueryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(data.data()),
                            &size) == kErrorSuccess) {
      data.resize(size);
      while (!data.empty() && data.back() == '\0') data.pop_back();
      text = std::move(data);
    }
  }
  registry.CloseKey(key);
  return text;
}

std::optional<std::uint32_t> ReadDword(RegistryApi& registry, std::string_view path,
                                       std::string_view name) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(kHkeyLocalMachine, path, 0, kKeyRead, &key) != kErrorSuccess)
    return std::nullopt;
  std::uint32_t type = 0;
  std::uint8_t data[4] = {};
  std::uint32_t size = sizeof data;
  std::optional<std::uint32_t> number;
  if (registry.QueryValue(key, name, &type, data, &size) == kErrorSuccess && type == kRegDword &&
      size == 4) {
    number =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
  }
  registry.CloseKey(key);
  return number;
}

// ---- WMI ----

class InstanceObject final : public AutomationObject {
 public:
  InstanceObject(std::string name, std::vector<std::string>& calls)
      : name_(std::move(name)), calls_(calls) {}
  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg>) override {
    if (!SameName(method, "StartService") && !SameName(method, "StopService")) {
      throw Failure(static_cast<std::int32_t>(0x80020006u),
                    "Método desconocido: " + std::string(method));
    }
    calls_.push_back(std::string(method) + " " + name_);
    return nullptr;
  }
  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    throw Failure(static_cast<std::int32_t>(0x80020003u), "El objeto no es una colección.");
  }

 private:
  std::string name_;
  std::vector<std::string>& calls_;
};

class InstanceEnumerator final : public AutomationEnumerator {
 public:
  InstanceEnumerator(std::vector<std::string> names, std::vector<std::string>& calls)
      : names_(std::move(names)), calls_(calls) {}
  std::unique_ptr<AutomationObject> Next() override {
    if (next_ >= names_.size()) return nullptr;
    return std::make_unique<InstanceObject>(names_[next_++], calls_);
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::string>& calls_;
  std::size_t next_ = 0;
};

class CollectionObject final : public AutomationObject {
 public:
  CollectionObject(std::vector<std::string> names, std::vector<std::string>& calls)
      : names_(std::move(names)), calls_(calls) {}
  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg>) override {
    throw Failure(static_cast<std::int32_t>(0x80020006u),
                  "Método desconocido: " + std::string(method));
  }
  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    return std::make_unique<InstanceEnumerator>(names_, calls_);
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::string>& calls_;
};

class ServicesObject final : public AutomationObject {
 public:
  ServicesObject(RegistryApi& registry, std::vector<std::string>& calls)
      : registry_(registry), calls_(calls) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    if (!SameName(method, "ExecQuery")) {
      throw Failure(static_cast<std::int32_t>(0x80020006u),
                    "Método desconocido: " + std::string(method));
    }
    const std::string* query = args.size() == 1 ? std::get_if<std::string>(&args[0]) : nullptr;
    constexpr std::string_view kPrefix = "SELECT * FROM WIN32_SERVICE WHERE NAME ='";
    if (query == nullptr || UpperName(query->substr(0, kPrefix.size())) != kPrefix ||
        query->back() != '\'') {
      throw Failure(static_cast<std::int32_t>(0x80041017u), "Consulta WMI no válida.");
    }
    const std::string wanted = query->substr(kPrefix.size(), query->size() - kPrefix.size() - 1);
    calls_.push_back("ExecQuery " + *query);
    std::vector<std::string> matches;
    KeyRef key = kNullKey;
    if (registry_.OpenKey(kHkeyLocalMachine, kServices, 0, kKeyRead, &key) == kErrorSuccess) {
      for (std::uint32_t index = 0;; ++index) {
        char name[512];
        std::uint32_t length = sizeof name;
        if (registry_.EnumKey(key, index, name, &length) != kErrorSuccess) break;
        if (SameName(std::string_view(name, length), wanted)) matches.emplace_back(name, length);
      }
      registry_.CloseKey(key);
    }
    return std::make_unique<CollectionObject>(std::move(matches), calls_);
  }
  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    throw Failure(static_cast<std::int32_t>(0x80020003u), "El objeto no es una colección.");
  }

 private:
  RegistryApi& registry_;
  std::vector<std::string>& calls_;
};

class StdRegProvObject final : public AutomationObject {
 public:
  StdRegProvObject(RegistryApi& registry, std::vector<std::string>& calls)
      : registry_(registry), calls_(calls) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    if (!SameName(method, "SetBinaryValue")) {
      throw Failure(static_cast<std::int32_t>(0x80020006u),
                    "Método desconocido: " + std::string(method));
    }
    const auto* root = args.size() == 4 ? std::get_if<std::int32_t>(&args[0]) : nullptr;
    const auto* path = args.size() == 4 ? std::get_if<std::string>(&args[1]) : nullptr;
    const auto* name = args.size() == 4 ? std::get_if<std::string>(&args[2]) : nullptr;
    const auto* values =
        args.size() == 4 ? std::get_if<std::vector<std::int32_t>>(&args[3]) : nullptr;
    if (root == nullptr || path == nullptr || name == nullptr || values == nullptr) {
      throw Failure(static_cast<std::int32_t>(0x80041008u),
                    "Parámetros de SetBinaryValue no válidos.");
    }
    std::vector<std::uint8_t> bytes;
    for (const auto value : *values) {
      if (value < 0 || value > 255) {
        throw Failure(static_cast<std::int32_t>(0x80041008u),
                      "Parámetros de SetBinaryValue no válidos.");
      }
      bytes.push_back(static_cast<std::uint8_t>(value));
    }
    calls_.push_back("SetBinaryValue " + *path + " " + *name);
    KeyRef key = kNullKey;
    if (registry_.OpenKey(static_cast<KeyRef>(*root), *path, 0, kKeySetValue, &key) ==
        kErrorSuccess) {
      registry_.SetValue(key, *name, kRegBinary, bytes);
      registry_.CloseKey(key);
    }
    return nullptr;
  }
  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    throw Failure(static_cast<std::int32_t>(0x80020003u), "El objeto no es una colección.");
  }

 private:
  RegistryApi& registry_;
  std::vector<std::string>& calls_;
};

}  // namespace

// ---- Files ----

std::uint32_t FileAttributes(const fs::path& path) {
  std::uint8_t raw[4] = {};
  if (::getxattr(path.c_str(), "system.ntfs_attrib_be", raw, sizeof raw) == sizeof raw) {
    return (static_cast<std::uint32_t>(raw[0]) << 24) | (raw[1] << 16) | (raw[2] << 8) | raw[3];
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && (status.st_mode & 0222) == 0)
    return kFileAttributeReadOnly;
  return 0;
}

std::optional<fs::path> OfflineFiles::Map(std::string_view windows_path) const {
  std::string_view rest = windows_path;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (std::toupper(static_cast<unsigned char>(rest[0])) !=
        std::toupper(static_cast<unsigned char>(system_drive_[0]))) {
      return std::nullopt;
    }
    rest.remove_prefix(2);
  } else if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
    return std::nullopt;
  }
  return ResolveNoCase(root_, rest);
}

bool OfflineFiles::IsPlainFile(std::string_view path) const {
  const auto mapped = Map(path);
  std::error_code error;
  if (!mapped || !fs::is_regular_file(*mapped, error)) return false;
  return (FileAttributes(*mapped) & (kFileAttributeHidden | kFileAttributeSystem)) == 0;
}

namespace {

// A file the run found it cannot replace: the commit refuses with its
// reason and writes nothing.
class RefusedFile final : public PendingFile {
 public:
  RefusedFile(fs::path target, Error why) : target_(std::move(target)), why_(std::move(why)) {}
  const fs::path& target() const override { return target_; }
  std::optional<Error> Refusal() const override { return why_; }
  void Write(int, const fs::path&) override { throw why_; }
  void Check(int, const fs::path&) const override { throw why_; }

 private:
  fs::path target_;
  Error why_;
};

}  // namespace

void OfflineFiles::WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) {
  const auto mapped = Map(path);
  if (!mapped) {
    throw Failure(kErrorPathNotFound, "No se encuentra la ruta de acceso " + Quoted(path) + ".");
  }
  // A refusal still goes to the commit, so that nothing of the run is saved.
  auto refuse = [&](std::int32_t number, const std::string& reason, Error why) {
    if (!dry_run_) staged_[*mapped] = Staged{{}, std::move(why)};
    throw Failure(number, (number == kErrorPathNotFound ? "No se encuentra la ruta de acceso "
                                                        : "Acceso denegado a ") +
                              Quoted(path) + ": " + reason + ".");
  };
  const fs::path folder = mapped->parent_path();
  struct stat found {};
  if (::stat(folder.c_str(), &found) != 0 || !S_ISDIR(found.st_mode)) {
    refuse(kErrorPathNotFound, "no existe la carpeta",
           Error(ErrorKind::kNotAFolder, folder, ENOENT));
  }
  if (!FolderInside(*mapped, root_)) {
    refuse(kErrorAccessDeniedFailure,
           "un enlace de su ruta lleva fuera de la instalación de Windows",
           Error(ErrorKind::kLinkOutside, *mapped));
  }
  const bool exists = ::lstat(mapped->c_str(), &found) == 0;
  if (exists && !S_ISREG(found.st_mode))
    refuse(kErrorAccessDeniedFailure, "no es un archivo normal",
           Error(ErrorKind::kNotRegularFile, *mapped));
  if (exists && (FileAttributes(*mapped) & kFileAttributeReadOnly)) {
    refuse(kErrorAccessDeniedFailure, "el archivo es de solo lectura",
           Error(ErrorKind::kReadOnly, *mapped));
  }
  struct statvfs volume {};
  const bool read_only_volume =
      ::statvfs(folder.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY);
  // A dry run is what a read-only volume is for.
  if (!(dry_run_ && read_only_volume)) {
    if (read_only_volume) {
      refuse(kErrorAccessDeniedFailure, "el volumen es de solo lectura",
             Error(ErrorKind::kReadOnlyVolume, *mapped));
    }
    if (::access(folder.c_str(), W_OK) != 0) {
      refuse(kErrorAccessDeniedFailure, "no se pueden crear archivos en su carpeta",
             Error(ErrorKind::kFolderNotWritable, *mapped));
    }
  }
  if (!dry_run_) staged_[*mapped] = Staged{{content.begin(), content.end()}, std::nullopt};
  changes_.push_back(FileChange{std::string(path), *mapped, {content.begin(), content.end()}});
}

std::vector<std::unique_ptr<PendingFile>> OfflineFiles::Pending() const {
  std::vector<std::unique_ptr<PendingFile>> pending;
  for (const auto& [target, staged] : staged_) {
    if (!staged.refusal) {
      pending.push_back(std::make_unique<PendingBytes>(target, staged.content));
    } else {
      pending.push_back(std::make_unique<RefusedFile>(target, *staged.refusal));
    }
  }
  return pending;
}

// ---- System information ----

std::optional<std::string> OfflineSystemInfo::Environment(std::string_view name) const {
  if (SameName(name, "systemroot") || SameName(name, "windir"))
    return ReadText(registry_, kCurrentVersion, "SystemRoot");
  if (SameName(name, "SystemDrive")) {
    const auto root = ReadText(registry_, kCurrentVersion, "SystemRoot");
    if (root && root->size() >= 2 && (*root)[1] == ':') return root->substr(0, 2);
    return std::nullopt;
  }
  return ReadText(registry_, kEnvironment, name);
}

std::string OfflineSystemInfo::WindowsDirectory() const {
  const auto root = ReadText(registry_, kCurrentVersion, "SystemRoot");
  return root && !root->empty() ? *root : std::string("C:\\WINDOWS");
}

bool OfflineSystemInfo::Version(std::uint32_t* major, std::uint32_t* minor) const {
  *major = 0;
  *minor = 0;
  // Windows 10 and 11 keep "6.3" in CurrentVersion, for programs that read
  // it, and their own version in the two numbers (Windows 8.1 and older have
  // neither).
  const auto major_number = ReadDword(registry_, kCurrentVersion, "CurrentMajorVersionNumber");
  if (major_number) {
    const auto minor_number = ReadDword(registry_, kCurrentVersion, "CurrentMinorVersionNumber");
    *major = *major_number;
    *minor = minor_number.value_or(0);
    return true;
  }
  const auto text = ReadText(registry_, kCurrentVersion, "CurrentVersion");
  if (!text) return false;
  const auto dot = text->find('.');
  if (dot == std::string::npos) return false;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  const char* begin = text->data();
  if (std::from_chars(begin, begin + dot, a).ec != std::errc() ||
      std::from_chars(begin + dot + 1, begin + text->size(), b).ec != std::errc()) {
    return false;
  }
  *major = a;
  *minor = b;
  return true;
}

// ---- WMI ----

std::unique_ptr<AutomationObject> OfflineWmi::BindMoniker(std::string_view moniker) {
  const std::string upper = UpperName(moniker);
  if (upper.rfind("WINMGMTS:", 0) == 0 && upper.find("ROOT\\CIMV2") != std::string::npos) {
    calls.push_back("BindMoniker " + std::string(moniker));
    return std::make_unique<ServicesObject>(registry_, calls);
  }
  if (upper.rfind("WINMGMTS:", 0) == 0 &&
      upper.find("ROOT\\DEFAULT:STDREGPROV") != std::string::npos) {
    calls.push_back("BindMoniker " + std::string(moniker));
    return std::make_unique<StdRegProvObject>(registry_, calls);
  }
  throw Failure(static_cast<std::int32_t>(0x800401E4u),
                "Moniker WMI no válido: " + std::string(moniker));
}

// ---- Token ----

bool OfflineToken::OpenProcessToken(HandleRef, std::uint32_t, HandleRef* token) {
  *token = 4;
  last_error_ = 0;
  return true;
}

bool OfflineToken::LookupPrivilege(std::string_view name, Luid* luid) {
  // The privileges' fixed identifiers on Windows; any other name is unknown.
  struct Known {
    std::string_view name;
    std::uint32_t low;
  };
  static constexpr Known kKnown[] = {{"SeBackupPrivilege", 17},
                                     {"SeRestorePrivilege", 18},
                                     {"SeShutdownPrivilege", 19},
                                     {"SeDebugPrivilege", 20}};
  for (const auto& known : kKnown) {
    if (SameName(known.name, name)) {
      *luid = Luid{known.low, 0};
      last_error_ = 0;
      return true;
    }
  }
  last_error_ = kErrorNoSuchPrivilege;
  return false;
}

bool OfflineToken::AdjustPrivileges(HandleRef, bool, const TokenPrivileges&) {
  last_error_ = 0;
  return true;
}

bool OfflineToken::CloseHandle(HandleRef) {
  last_error_ = 0;
  return true;
}

}  // namespace sorbantilex::offline
