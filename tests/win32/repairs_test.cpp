// Every repair on the live Windows platform (the system's registry, files
// and WMI), held against the in-memory reference: the same damage, the same
// repair, the same end state, and no change on a second run. Where the
// system's WMI cannot do what a repair asks, the run ends through the task
// runner's error message, and nothing else happens.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <type_traits>
#include <string>
#include <vector>

#include "app/menu.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_system_info.h"
#include "platform/memory/memory_window_system.h"
#include "platform/memory/memory_wmi.h"
#include "platform/memory/recording_window_services.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_system_info.h"
#include "repair_catalog.h"
#include "platform/win32/win32_token.h"
#include "platform/win32/win32_wmi.h"
#include "registry/failure.h"
#include "registry/key_names.h"
#include "registry/registro.h"
#include "tasks/funciones.h"

namespace sorbantilex {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }
Bytes Dword(std::uint32_t n) {
  return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
          static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
}

const std::string kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
const std::string kPolicyCopies =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\Software\\"
    "Microsoft\\Windows\\CurrentVersion\\Policies\\";
const std::string kFolder =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder";
const std::string kService = "SYSTEM\\CurrentControlSet\\Services\\srservice";
const std::string kWinlogon = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::string kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";
const std::string kDomains =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";
const std::string kAllow = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";

struct Place {
  KeyRef root;
  std::string path;
};

// Every key a repair may change. The live registry loses them before each
// test, so that both registries start from the same damage.
std::vector<Place> Places() {
  std::vector<Place> places;
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    places.push_back({root, kPolicies + "System"});
    places.push_back({root, kPolicies + "Explorer"});
    places.push_back({root, kPolicies + "ActiveDesktop"});
    places.push_back({root, kPolicies + "Uninstall"});
    places.push_back({root, kPolicies + "SystemRestore"});
    places.push_back({root, "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects"});
  }
  places.push_back({kHkeyLocalMachine, kFolder});
  places.push_back({kHkeyLocalMachine, kService});
  places.push_back({kHkeyLocalMachine, kSafeBoot});
  places.push_back({kHkeyCurrentUser, kDomains});
  places.push_back({kHkeyCurrentUser, kAllow});
  return places;
}

// Removes the places from the registry, in the view the program uses.
void Clear(RegistryApi& registry) {
  Registro registro(registry);
  for (const auto& place : Places()) registro.EliminarClave(place.root, place.path);
}

void Put(RegistryApi& registry, KeyRef root, const std::string& path, std::string_view name,
         std::uint32_t type, const Bytes& data) {
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(root, path, 0, kKeySetValue, &key, nullptr), kErrorSuccess) << path;
  ASSERT_EQ(registry.SetValue(key, name, type, data), kErrorSuccess);
  registry.CloseKey(key);
}

// The damage malicious software leaves: something for every repair to mend.
void Damage(RegistryApi& registry) {
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const char* policy :
         {"System", "Explorer", "ActiveDesktop", "Uninstall", "SystemRestore"}) {
      Put(registry, root, kPolicies + policy, "NoLock", kRegDword, Dword(1));
      Put(registry, root, kPolicyCopies + policy + "\\Sub", "NoLock", kRegDword, Dword(1));
    }
  }
  Put(registry, kHkeyLocalMachine, kFolder + "\\Hidden\\SHOWALL", "CheckedValue", kRegDword,
      Dword(0));
  Put(registry, kHkeyLocalMachine, kFolder + "\\SuperHidden\\Policy\\Evil", "x", kRegDword,
      Dword(1));
  Put(registry, kHkeyLocalMachine, kService, "Start", kRegDword, Dword(4));
  Put(registry, kHkeyLocalMachine, kService + "\\Security", "Security", kRegBinary, Bytes{1, 2, 3});
  Put(registry, kHkeyLocalMachine, kWinlogon, "Shell", kRegSz, Text("evil.exe"));
  Put(registry, kHkeyLocalMachine, kWinlogon, "Userinit", kRegSz, Text("evil.exe,"));
  Put(registry, kHkeyLocalMachine, kWinlogon, "SFCDisable", kRegDword, Dword(0xFFFFFF9D));
  Put(registry, kHkeyLocalMachine, kSafeBoot + "\\Minimal\\evil.sys", "", kRegSz, Text("Driver"));
  Put(registry, kHkeyLocalMachine, kSafeBoot + "\\Network\\Configuración", "", kRegSz,
      Text("Driver"));
  Put(registry, kHkeyCurrentUser, kDomains + "\\trusted.com", "*", kRegDword, Dword(2));
  Put(registry, kHkeyCurrentUser, kDomains + "\\mixed.com\\bad", "*", kRegDword, Dword(4));
  Put(registry, kHkeyCurrentUser, kDomains + "\\mixed.com\\good", "*", kRegDword, Dword(2));
  Put(registry, kHkeyCurrentUser, kAllow, "a.com", kRegBinary, Bytes{0, 0});
}

/// A key with its values and subkeys, each sorted by upper-cased name, so
/// that registries that enumerate in different orders compare equal.
struct Tree {
  std::string name;
  std::vector<std::tuple<std::string, std::uint32_t, Bytes>> values;
  std::vector<Tree> subkeys;
  friend bool operator==(const Tree&, const Tree&) = default;
};

void PrintTo(const Tree& tree, std::ostream* out) {
  *out << "[" << tree.name << "]";
  for (const auto& [name, type, data] : tree.values) {
    *out << " \"" << name << "\"(" << type << "):";
    for (const auto byte : data) *out << static_cast<int>(byte) << ",";
  }
  for (const auto& child : tree.subkeys) {
    *out << " {";
    PrintTo(child, out);
    *out << "}";
  }
}

void Sort(Tree& tree) {
  std::ranges::sort(tree.values, {}, [](const auto& v) { return UpperName(std::get<0>(v)); });
  std::ranges::sort(tree.subkeys, {}, [](const Tree& t) { return UpperName(t.name); });
}

std::optional<Tree> FromSnapshot(const std::optional<KeySnapshot>& key) {
  if (!key) return std::nullopt;
  Tree tree{key->name, {}, {}};
  for (const auto& value : key->values)
    tree.values.emplace_back(value.name, value.type, value.data);
  for (const auto& child : key->subkeys) tree.subkeys.push_back(*FromSnapshot(child));
  Sort(tree);
  return tree;
}

HKEY ToHkey(KeyRef root) {
  return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(root)));
}

// The same from the live registry: names through the system, data through
// the platform's registry (so text comes back as UTF-8, as from the model).
std::optional<Tree> LiveTree(Win32Registry& registry, KeyRef root, const std::string& path,
                             std::string name) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(root, path, 0, kKeyRead, &key) != kErrorSuccess) return std::nullopt;
  Tree tree{std::move(name), {}, {}};
  const HKEY hkey = ToHkey(key);
  for (DWORD i = 0;; ++i) {
    wchar_t value_name[16384];
    DWORD length = 16384;
    if (::RegEnumValueW(hkey, i, value_name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::string utf8 = win32::Utf8(std::wstring_view(value_name, length));
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    registry.QueryValue(key, utf8, &type, nullptr, &size);
    Bytes data(size);
    registry.QueryValue(key, utf8, &type, data.data(), &size);
    tree.values.emplace_back(utf8, type, data);
  }
  for (std::uint32_t i = 0;; ++i) {
    char child[1024];
    std::uint32_t length = sizeof child;
    if (registry.EnumKey(key, i, child, &length) != kErrorSuccess) break;
    const std::string child_name(child, length);
    tree.subkeys.push_back(*LiveTree(registry, key, child_name, child_name));
  }
  registry.CloseKey(key);
  Sort(tree);
  return tree;
}

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(win32::Wide(path)), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct State {
  std::vector<std::optional<Tree>> keys;
  std::vector<std::optional<std::string>> winlogon;
  std::string hosts;
  friend bool operator==(const State&, const State&) = default;
};

void PrintTo(const State& state, std::ostream* out) {
  for (const auto& key : state.keys) {
    *out << "\n";
    if (key)
      PrintTo(*key, out);
    else
      *out << "(none)";
  }
  for (const auto& value : state.winlogon) *out << "\nWinlogon: " << value.value_or("(none)");
  *out << "\nhosts: " << state.hosts;
}

class LiveRepairTest : public ::testing::TestWithParam<Repair> {
 protected:
  void SetUp() override {
    Clear(live_);
    Damage(live_);
    hosts_ = system_.WindowsDirectory() + "\\system32\\drivers\\etc\\hosts";
    files_.WriteReplacing(hosts_, Text("66.6.6.6 www.google.com\r\n"));

    Damage(model_);
    model_system_.SetWindowsDirectory(system_.WindowsDirectory());
    model_system_.SetEnvironment("SystemRoot", system_.Environment("SystemRoot"));
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    if (system_.Version(&major, &minor)) {
      model_system_.SetVersion(std::pair{major, minor});
    } else {
      model_system_.SetVersion(std::nullopt);
    }
    if (system_.RealVersion(&major, &minor)) {  // the Safe Mode repair depends on it
      model_system_.SetRealVersion(std::pair{major, minor});
    } else {
      model_system_.SetRealVersion(std::nullopt);
    }
    model_files_.AddFile(hosts_, "66.6.6.6 www.google.com\r\n");
  }

  State LiveState() {
    State state;
    for (const auto& place : Places()) {
      state.keys.push_back(LiveTree(live_, place.root, place.path, "key"));
    }
    for (const char* name : {"Shell", "Userinit", "SFCDisable"}) {
      state.winlogon.push_back(ValueText(live_, name));
    }
    state.hosts = ReadFile(hosts_);
    return state;
  }
  State ModelState() {
    State state;
    for (const auto& place : Places()) {
      auto tree = FromSnapshot(model_.Snapshot(place.root, place.path));
      if (tree) tree->name = "key";
      state.keys.push_back(tree);
    }
    for (const char* name : {"Shell", "Userinit", "SFCDisable"}) {
      state.winlogon.push_back(ValueText(model_, name));
    }
    state.hosts = *model_files_.Content(hosts_);
    return state;
  }
  static std::optional<std::string> ValueText(RegistryApi& registry, const char* name) {
    KeyRef key = kNullKey;
    if (registry.OpenKey(kHkeyLocalMachine, kWinlogon, 0, kKeyRead, &key) != kErrorSuccess) {
      return std::nullopt;
    }
    std::uint32_t type = 0;
    std::uint32_t size = 256;
    char data[256];
    const Status status =
        registry.QueryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(data), &size);
    registry.CloseKey(key);
    if (status != kErrorSuccess) return std::nullopt;
    return std::to_string(type) + ":" + std::string(data, size);
  }

  Win32Registry live_;
  Win32SystemInfo system_;
  Win32Files files_;
  Win32Wmi wmi_;
  RecordingWindowServices live_ui_;
  Funciones live_funciones_{{live_, system_, files_, wmi_, live_ui_}};
  std::string hosts_;

  MemoryRegistry model_;
  MemorySystemInfo model_system_;
  MemoryFiles model_files_;
  MemoryWmi model_wmi_{model_};
  RecordingWindowServices model_ui_;
  Funciones model_funciones_{{model_, model_system_, model_files_, model_wmi_, model_ui_}};
};

TEST_P(LiveRepairTest, EndsAsTheReferenceDoesAndSecondRunChangesNothing) {
  const State damaged = LiveState();
  ASSERT_EQ(damaged, ModelState()) << "the two registries start apart";

  (live_funciones_.*GetParam().run)();
  (model_funciones_.*GetParam().run)();
  const State repaired = LiveState();
  EXPECT_NE(repaired, damaged);
  EXPECT_EQ(repaired, ModelState());

  (live_funciones_.*GetParam().run)();
  EXPECT_EQ(LiveState(), repaired);
  EXPECT_TRUE(live_ui_.Messages().empty());
}

// The System Restore repair needs the WMI registry provider; it has a test of its own below.
// The repairs of the offline front ends' fourth frame are not the Windows program's.
std::vector<Repair> RepairsWithoutWmi() {
  std::vector<Repair> repairs;
  std::copy_if(std::begin(kRepairs), std::end(kRepairs), std::back_inserter(repairs),
               [](const Repair& r) {
                 return r.run != &Funciones::RepararRestaurarSistema && !r.offline_only;
               });
  return repairs;
}

INSTANTIATE_TEST_SUITE_P(Repairs, LiveRepairTest, ::testing::ValuesIn(RepairsWithoutWmi()),
                         [](const auto& info) { return std::string(info.param.name); });

// WMI of the system, noting the last failure it raised.
class WatchedObject final : public AutomationObject {
 public:
  WatchedObject(std::unique_ptr<AutomationObject> inner, std::optional<Failure>* last)
      : inner_(std::move(inner)), last_(last) {}
  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    return Watch([&] { return inner_->Invoke(method, args); });
  }
  std::unique_ptr<AutomationEnumerator> NewEnum() override;

  template <class Call>
  auto Watch(Call call) -> decltype(call()) {
    try {
      auto result = call();
      if constexpr (std::is_same_v<decltype(result), std::unique_ptr<AutomationObject>>) {
        if (result) return std::make_unique<WatchedObject>(std::move(result), last_);
      }
      return result;
    } catch (const Failure& failure) {
      *last_ = failure;
      throw;
    }
  }

 private:
  std::unique_ptr<AutomationObject> inner_;
  std::optional<Failure>* last_;
};

class WatchedEnumerator final : public AutomationEnumerator {
 public:
  WatchedEnumerator(std::unique_ptr<AutomationEnumerator> inner, std::optional<Failure>* last)
      : inner_(std::move(inner)), last_(last) {}
  std::unique_ptr<AutomationObject> Next() override {
    try {
      auto item = inner_->Next();
      return item ? std::make_unique<WatchedObject>(std::move(item), last_) : nullptr;
    } catch (const Failure& failure) {
      *last_ = failure;
      throw;
    }
  }

 private:
  std::unique_ptr<AutomationEnumerator> inner_;
  std::optional<Failure>* last_;
};

std::unique_ptr<AutomationEnumerator> WatchedObject::NewEnum() {
  try {
    return std::make_unique<WatchedEnumerator>(inner_->NewEnum(), last_);
  } catch (const Failure& failure) {
    *last_ = failure;
    throw;
  }
}

class WatchedWmi final : public Wmi {
 public:
  std::unique_ptr<AutomationObject> BindMoniker(std::string_view moniker) override {
    try {
      return std::make_unique<WatchedObject>(wmi_.BindMoniker(moniker), &last);
    } catch (const Failure& failure) {
      last = failure;
      throw;
    }
  }
  std::optional<Failure> last;

 private:
  Win32Wmi wmi_;
};

// The System Restore repair, through the task runner as the user starts it.
// It stops and starts services and writes its security descriptor through
// WMI. Wine's WMI lacks methods it calls (its registry provider has no
// SetBinaryValue): there the run must end through the runner's error
// message for exactly the failure WMI raised, with nothing shown after it.
// Where WMI can do it all (Windows), the run completes.
TEST(LiveSystemRestoreRepair, EndsThroughTheRunnersMessageWhereWmiCannotDoIt) {
  Win32Registry live;
  Clear(live);
  Damage(live);
  Win32SystemInfo system;
  Win32Files files;
  WatchedWmi wmi;
  MemoryWindowSystem ui;
  Win32Token token;
  Funciones funciones{{live, system, files, wmi, ui}};
  Menu menu({ui, funciones, token, system, live});
  ui.Attach(menu);
  ui.Launch();
  const std::size_t at_start = ui.messages().size();
  ui.SetCheckState(CheckArray::kFixes, 5, 1);
  try {
    ui.Perform(UserStep::ClickUnlock());
  } catch (const ProgramEnded&) {
  }

  const std::vector shown(ui.messages().begin() + static_cast<std::ptrdiff_t>(at_start),
                          ui.messages().end());
  ASSERT_FALSE(shown.empty());
  const std::string library_missing =
      "La librería srsvc.dll necesaria para \"Restaurar Sistema\" no existe.\r\n"
      "Reponga la librería para continuar.";
  for (std::size_t i = 0; i + 1 < shown.size(); ++i) {
    EXPECT_EQ(shown[i], (MemoryWindowSystem::Message{library_missing, ""}));
  }
  if (RunningUnderWine()) {
    ASSERT_TRUE(wmi.last.has_value()) << "Wine's WMI did everything the repair asked";
  }
  if (wmi.last) {
    EXPECT_EQ(ui.ended(), EndReason::kFailed);
    EXPECT_EQ(
        shown.back(),
        (MemoryWindowSystem::Message{
            "Sorbantilex recibió el error " + std::to_string(wmi.last->number()) + "\r\n" +
                wmi.last->description() + "\r\nAsegúrese que el sistema está libre de malwares.",
            "Error"}));
    EXPECT_LT(wmi.last->number(), 0);
  } else {
    EXPECT_EQ(ui.ended(), EndReason::kFinished);
    EXPECT_EQ(shown.back().title, "Finalizado");
    const auto security = LiveTree(live, kHkeyLocalMachine, kService + "\\Security", "Security");
    ASSERT_TRUE(security.has_value());
    ASSERT_EQ(security->values.size(), 1u);
    EXPECT_EQ(std::get<2>(security->values[0]).size(), 168u);
  }
}

}  // namespace
}  // namespace sorbantilex
