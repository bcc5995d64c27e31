#include "platform/offline/sample.h"

#include <array>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/offline/hive_registry.h"
#include "platform/offline/regf.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
constexpr std::string_view kPolicyCopy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\"
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
constexpr std::string_view kFolder =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\";
constexpr std::string_view kDomains =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
constexpr std::string_view kControlSet = "SYSTEM\\CurrentControlSet\\";

struct Value {
  KeyRef root;
  std::string_view key;  // created when missing
  std::string_view name;
  std::uint32_t type;
  std::string_view text;  // for string types and binary
  std::uint32_t number;   // for REG_DWORD
};

// Strings are stored as Windows stores them: with their terminating zero.
#define SZ(text) std::string_view(text "", sizeof(text))

std::vector<Value> Damage() {
  std::vector<Value> values;
  auto add = [&](KeyRef root, std::string_view key, std::string_view name, std::uint32_t type,
                 std::string_view text, std::uint32_t number = 0) {
    values.push_back({root, key, name, type, text, number});
  };
  // The system's own keys.
  constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  add(kHkeyLocalMachine, kCurrentVersion, "SystemRoot", kRegSz, SZ("C:\\WINDOWS"));
  add(kHkeyLocalMachine, kCurrentVersion, "CurrentVersion", kRegSz, SZ("5.1"));
  add(kHkeyLocalMachine, kCurrentVersion, "ProductName", kRegSz, SZ("Microsoft Windows XP"));
  add(kHkeyLocalMachine,
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
      "S-1-5-21-1757981266-1645522239-839522115-1003",
      "ProfileImagePath", kRegExpandSz, SZ("%SystemDrive%\\Documents and Settings\\Juan"));
  add(kHkeyLocalMachine, "SYSTEM\\Select", "Current", kRegDword, {}, 1);
  add(kHkeyLocalMachine, "SYSTEM\\Select", "Default", kRegDword, {}, 1);
  add(kHkeyLocalMachine, "SYSTEM\\Select", "LastKnownGood", kRegDword, {}, 2);
  add(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "OS",
      kRegSz, SZ("Windows_NT"));
  add(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
      "windir", kRegExpandSz, SZ("%SystemRoot%"));
  for (const char* service : {"SYSTEM\\CurrentControlSet\\Services\\Eventlog",
                              "SYSTEM\\CurrentControlSet\\Services\\RpcSs"}) {
    add(kHkeyLocalMachine, service, "Start", kRegDword, {}, 2);
  }

  // Policy locks, under both roots and in the group-policy copies.
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    for (const auto base : {kPolicies, kPolicyCopy}) {
      for (const auto policy :
           {"System", "Explorer", "ActiveDesktop", "Uninstall", "SystemRestore"}) {
        k.push_back(std::string(base) + policy);
      }
    }
    return k;
  }();
  const std::array<std::string_view, 5> names = {"DisableTaskMgr", "NoFolderOptions",
                                                 "NoChangingWallPaper", "NoAddRemovePrograms",
                                                 "DisableSR"};
  for (std::size_t k = 0; k < keys.size(); ++k) {
    for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
      add(root, keys[k], names[k % 5], kRegDword, {}, 1);
    }
  }
  add(kHkeyCurrentUser, keys[0], "DisableRegistryTools", kRegDword, {}, 1);
  add(kHkeyCurrentUser, keys[1], "NoRun", kRegDword, {}, 1);
  add(kHkeyCurrentUser, keys[1], "NoSaveSettings", kRegDword, {}, 1);
  add(kHkeyCurrentUser, keys[6], "NoSaveSettings", kRegDword, {}, 1);

  // Hidden files that cannot be shown.
  const std::string show_all = std::string(kFolder) + "Hidden\\SHOWALL";
  const std::string no_hidden = std::string(kFolder) + "Hidden\\NOHIDDEN";
  const std::string super_hidden = std::string(kFolder) + "SuperHidden";
  static const std::array<std::string, 4> folder_keys = {
      show_all, no_hidden, super_hidden, super_hidden + "\\Policy\\DontShowSuperHidden"};
  add(kHkeyLocalMachine, folder_keys[0], "CheckedValue", kRegDword, {}, 0);
  add(kHkeyLocalMachine, folder_keys[0], "DefaultValue", kRegDword, {}, 1);
  add(kHkeyLocalMachine, folder_keys[0], "Type", kRegSz, SZ("radio"));
  add(kHkeyLocalMachine, folder_keys[1], "CheckedValue", kRegDword, {}, 1);
  add(kHkeyLocalMachine, folder_keys[2], "CheckedValue", kRegDword, {}, 1);
  add(kHkeyLocalMachine, folder_keys[2], "UncheckedValue", kRegDword, {}, 0);
  add(kHkeyLocalMachine, folder_keys[3], "Type", kRegSz, SZ("blocked"));

  // Winlogon hijacked; file protection off.
  constexpr std::string_view kWinlogon =
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
  add(kHkeyLocalMachine, kWinlogon, "Shell", kRegSz,
      SZ("Explorer.exe C:\\WINDOWS\\system32\\svch0st.exe"));
  add(kHkeyLocalMachine, kWinlogon, "Userinit", kRegSz,
      SZ("C:\\WINDOWS\\system32\\userinit.exe,C:\\WINDOWS\\system32\\wsnpoem.exe,"));
  add(kHkeyLocalMachine, kWinlogon, "SFCDisable", kRegDword, {}, 0xFFFFFF9D);

  // Safe Mode gutted, with a planted entry.
  const std::string safe_boot = std::string(kControlSet) + "Control\\SafeBoot";
  static const std::array<std::string, 3> safe_keys = {
      safe_boot, safe_boot + "\\Minimal\\svch0st.exe", safe_boot + "\\Minimal\\Base"};
  add(kHkeyLocalMachine, safe_keys[0], "AlternateShell", kRegSz, SZ("svch0st.exe"));
  add(kHkeyLocalMachine, safe_keys[1], "", kRegSz, SZ("Service"));
  add(kHkeyLocalMachine, safe_keys[2], "", kRegSz, SZ("Driver Group"));

  // System Restore disabled.
  const std::string sr = std::string(kControlSet) + "Services\\srservice";
  static const std::array<std::string, 2> sr_keys = {sr, sr + "\\Parameters"};
  add(kHkeyLocalMachine, sr_keys[0], "Start", kRegDword, {}, 4);
  add(kHkeyLocalMachine, sr_keys[0], "Type", kRegDword, {}, 32);
  add(kHkeyLocalMachine, sr_keys[0], "ImagePath", kRegExpandSz,
      SZ("C:\\WINDOWS\\system32\\svch0st.exe"));
  add(kHkeyLocalMachine, sr_keys[1], "ServiceDll", kRegExpandSz,
      SZ("C:\\WINDOWS\\system32\\sr.dll.bak"));

  // Browser: locked start page, zones, pop-ups.
  add(kHkeyLocalMachine, "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel",
      "HomePage", kRegDword, {}, 1);
  add(kHkeyCurrentUser, "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel",
      "HomePage", kRegDword, {}, 1);
  static const std::string gpo_panel =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy "
      "Objects\\LocalUser\\Software\\Policies\\"
      "Microsoft\\Internet Explorer\\Control Panel";
  add(kHkeyLocalMachine, gpo_panel, "HomePage", kRegDword, {}, 1);
  add(kHkeyCurrentUser, gpo_panel, "HomePage", kRegDword, {}, 1);
  add(kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\Main", "Start Page", kRegSz,
      SZ("http://buscador-falso.example/"));
  static const std::array<std::string, 6> zones = {
      std::string(kDomains) + "buscador-falso.example",
      std::string(kDomains) + "banco-falso.example\\www",
      std::string(kDomains) + "antivirus.example",
      std::string(kDomains) + "antivirus.example\\update",
      std::string(kDomains) + "intranet.example",
      std::string(kDomains) + "antispyware.example"};
  add(kHkeyCurrentUser, zones[0], "*", kRegDword, {}, 2);  // trusted domain
  add(kHkeyCurrentUser, zones[1], "http", kRegDword, {}, 2);
  add(kHkeyCurrentUser, zones[1], "*", kRegDword, {}, 2);  // trusted subdomain
  add(kHkeyCurrentUser, zones[2], "*", kRegDword, {}, 4);  // restricted domain
  add(kHkeyCurrentUser, zones[3], "*", kRegDword, {}, 4);  // restricted subdomain
  add(kHkeyCurrentUser, zones[4], "*", kRegDword, {}, 1);  // local intranet: stays
  add(kHkeyCurrentUser, zones[5], "*", kRegSz, SZ("4"));   // not a number: stays
  add(kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
      "*.publicidad.example", kRegBinary, std::string_view("\0\0", 2));
  add(kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
      "ventanas.example", kRegBinary, std::string_view("\0\0", 2));
  return values;
}

#undef SZ

}  // namespace

void PlantSampleDamage(RegistryApi& registry) {
  // The control set Select names; the damage reaches it as CurrentControlSet.
  KeyRef control_set = kNullKey;
  if (registry.CreateKey(kHkeyLocalMachine, "SYSTEM\\ControlSet001", 0, kRegistroAccess,
                         &control_set, nullptr) == kErrorSuccess) {
    registry.CloseKey(control_set);
  }
  for (const Value& value : Damage()) {
    KeyRef key = kNullKey;
    if (registry.CreateKey(value.root, value.key, 0, kRegistroAccess, &key, nullptr) !=
        kErrorSuccess) {
      throw std::runtime_error("cannot create " + std::string(value.key));
    }
    std::vector<std::uint8_t> data;
    if (value.type == kRegDword) {
      for (int k = 0; k < 4; ++k)
        data.push_back(static_cast<std::uint8_t>(value.number >> (8 * k)));
    } else {
      data.assign(value.text.begin(), value.text.end());
    }
    const Status status = registry.SetValue(key, value.name, value.type, data);
    registry.CloseKey(key);
    if (status != kErrorSuccess)
      throw std::runtime_error("cannot write " + std::string(value.name));
  }
}

void MakeSampleInstallation(const fs::path& root) {
  const fs::path windows = root / "WINDOWS";
  const fs::path config = windows / "system32" / "config";
  const fs::path profile = root / "Documents and Settings" / std::string(kSampleUser);
  if (fs::exists(config / "SYSTEM"))
    throw std::runtime_error(root.string() + " already holds an installation");
  fs::create_directories(config);
  fs::create_directories(windows / "system32" / "drivers" / "etc");
  fs::create_directories(profile);

  const HivePaths paths{config / "software", config / "system", profile / "NTUSER.DAT",
                        std::string(kSampleUserSid)};
  WriteBlankHive(paths.software, "$$$PROTO.HIV", 3);
  WriteBlankHive(paths.system, "$$$PROTO.HIV", 3);
  WriteBlankHive(paths.user, "$$$PROTO.HIV", 3);
  {
    HiveRegistry registry(paths, true);
    PlantSampleDamage(registry);
    CommitHooks hooks;
    hooks.keep_backup = false;
    const auto report = registry.Commit(hooks);
    if (!report.errors.empty()) throw std::runtime_error(report.errors.front());
  }
  auto write = [](const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  };
  write(windows / "system32" / "drivers" / "etc" / "hosts", kSampleHosts);
  write(windows / "system32" / "srsvc.dll", "MZ");
  write(windows / "system32" / "userinit.exe", "MZ");
}

}  // namespace sorbantilex::offline
