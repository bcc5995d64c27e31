#include "platform/offline/installation/sample.h"

#include <array>
#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/error.h"
#include "platform/offline/hive_file/regf.h"
#include "registry/failure.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

// Key paths, spelled as literals so that the table below can join them.
#define SORBANTILEX_POLICIES "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
#define SORBANTILEX_POLICY_COPY                                                     \
  "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\" \
  "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
#define SORBANTILEX_CURRENT_VERSION "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
#define SORBANTILEX_FOLDER \
  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\"
#define SORBANTILEX_SAFE_BOOT "SYSTEM\\CurrentControlSet\\Control\\SafeBoot"
#define SORBANTILEX_SRSERVICE "SYSTEM\\CurrentControlSet\\Services\\srservice"
#define SORBANTILEX_CONTROL_PANEL "Policies\\Microsoft\\Internet Explorer\\Control Panel"
#define SORBANTILEX_IFEO SORBANTILEX_CURRENT_VERSION "\\Image File Execution Options"
#define SORBANTILEX_EXCLUSIONS "SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\"
#define SORBANTILEX_INTERNET_SETTINGS \
  "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
#define SORBANTILEX_DOMAINS \
  "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\"

struct Value {
  KeyRef root;
  std::string_view key;  // created when missing
  std::string_view name;
  std::uint32_t type;
  std::string_view text;     // for string types and binary
  std::uint32_t number = 0;  // for REG_DWORD
};

constexpr KeyRef kHklm = kHkeyLocalMachine;
constexpr KeyRef kHkcu = kHkeyCurrentUser;

constexpr Value Dword(KeyRef root, std::string_view key, std::string_view name,
                      std::uint32_t number) {
  return {root, key, name, kRegDword, {}, number};
}

// Strings are stored as Windows stores them: with their terminating zero.
#define SZ(text) std::string_view(text "", sizeof(text))

// What the sample holds, in the order it is written.
constexpr Value kDamage[] = {
    // The system's own keys.
    {kHklm, SORBANTILEX_CURRENT_VERSION, "SystemRoot", kRegSz, SZ("C:\\WINDOWS")},
    {kHklm, SORBANTILEX_CURRENT_VERSION, "CurrentVersion", kRegSz, SZ("5.1")},
    {kHklm, SORBANTILEX_CURRENT_VERSION, "ProductName", kRegSz, SZ("Microsoft Windows XP")},
    {kHklm,
     SORBANTILEX_CURRENT_VERSION "\\ProfileList\\S-1-5-21-1757981266-1645522239-839522115-1003",
     "ProfileImagePath", kRegExpandSz, SZ("%SystemDrive%\\Documents and Settings\\Juan")},
    Dword(kHklm, "SYSTEM\\Select", "Current", 1),
    Dword(kHklm, "SYSTEM\\Select", "Default", 1),
    Dword(kHklm, "SYSTEM\\Select", "LastKnownGood", 2),
    {kHklm, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "OS", kRegSz,
     SZ("Windows_NT")},
    {kHklm, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "windir",
     kRegExpandSz, SZ("%SystemRoot%")},
    Dword(kHklm, "SYSTEM\\CurrentControlSet\\Services\\Eventlog", "Start", 2),
    Dword(kHklm, "SYSTEM\\CurrentControlSet\\Services\\RpcSs", "Start", 2),

    // Policy locks, under both roots and in the group-policy copies.
    Dword(kHklm, SORBANTILEX_POLICIES "System", "DisableTaskMgr", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "System", "DisableTaskMgr", 1),
    Dword(kHklm, SORBANTILEX_POLICIES "Explorer", "NoFolderOptions", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "Explorer", "NoFolderOptions", 1),
    Dword(kHklm, SORBANTILEX_POLICIES "ActiveDesktop", "NoChangingWallPaper", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "ActiveDesktop", "NoChangingWallPaper", 1),
    Dword(kHklm, SORBANTILEX_POLICIES "Uninstall", "NoAddRemovePrograms", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "Uninstall", "NoAddRemovePrograms", 1),
    Dword(kHklm, SORBANTILEX_POLICIES "SystemRestore", "DisableSR", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "SystemRestore", "DisableSR", 1),
    Dword(kHklm, SORBANTILEX_POLICY_COPY "System", "DisableTaskMgr", 1),
    Dword(kHkcu, SORBANTILEX_POLICY_COPY "System", "DisableTaskMgr", 1),
    Dword(kHklm, SORBANTILEX_POLICY_COPY "Explorer", "NoFolderOptions", 1),
    Dword(kHkcu, SORBANTILEX_POLICY_COPY "Explorer", "NoFolderOptions", 1),
    Dword(kHklm, SORBANTILEX_POLICY_COPY "ActiveDesktop", "NoChangingWallPaper", 1),
    Dword(kHkcu, SORBANTILEX_POLICY_COPY "ActiveDesktop", "NoChangingWallPaper", 1),
    Dword(kHklm, SORBANTILEX_POLICY_COPY "Uninstall", "NoAddRemovePrograms", 1),
    Dword(kHkcu, SORBANTILEX_POLICY_COPY "Uninstall", "NoAddRemovePrograms", 1),
    Dword(kHklm, SORBANTILEX_POLICY_COPY "SystemRestore", "DisableSR", 1),
    Dword(kHkcu, SORBANTILEX_POLICY_COPY "SystemRestore", "DisableSR", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "System", "DisableRegistryTools", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "Explorer", "NoRun", 1),
    Dword(kHkcu, SORBANTILEX_POLICIES "Explorer", "NoSaveSettings", 1),
    Dword(kHkcu, SORBANTILEX_POLICY_COPY "Explorer", "NoSaveSettings", 1),

    // Hidden files that cannot be shown.
    Dword(kHklm, SORBANTILEX_FOLDER "Hidden\\SHOWALL", "CheckedValue", 0),
    Dword(kHklm, SORBANTILEX_FOLDER "Hidden\\SHOWALL", "DefaultValue", 1),
    {kHklm, SORBANTILEX_FOLDER "Hidden\\SHOWALL", "Type", kRegSz, SZ("radio")},
    Dword(kHklm, SORBANTILEX_FOLDER "Hidden\\NOHIDDEN", "CheckedValue", 1),
    Dword(kHklm, SORBANTILEX_FOLDER "SuperHidden", "CheckedValue", 1),
    Dword(kHklm, SORBANTILEX_FOLDER "SuperHidden", "UncheckedValue", 0),
    {kHklm, SORBANTILEX_FOLDER "SuperHidden\\Policy\\DontShowSuperHidden", "Type", kRegSz,
     SZ("blocked")},

    // Winlogon hijacked; file protection off.
    {kHklm, SORBANTILEX_CURRENT_VERSION "\\Winlogon", "Shell", kRegSz,
     SZ("Explorer.exe C:\\WINDOWS\\system32\\svch0st.exe")},
    {kHklm, SORBANTILEX_CURRENT_VERSION "\\Winlogon", "Userinit", kRegSz,
     SZ("C:\\WINDOWS\\system32\\userinit.exe,C:\\WINDOWS\\system32\\wsnpoem.exe,")},
    Dword(kHklm, SORBANTILEX_CURRENT_VERSION "\\Winlogon", "SFCDisable", 0xFFFFFF9D),

    // Safe Mode gutted, with a planted entry.
    {kHklm, SORBANTILEX_SAFE_BOOT, "AlternateShell", kRegSz, SZ("svch0st.exe")},
    {kHklm, SORBANTILEX_SAFE_BOOT "\\Minimal\\svch0st.exe", "", kRegSz, SZ("Service")},
    {kHklm, SORBANTILEX_SAFE_BOOT "\\Minimal\\Base", "", kRegSz, SZ("Driver Group")},

    // System Restore disabled.
    Dword(kHklm, SORBANTILEX_SRSERVICE, "Start", 4),
    Dword(kHklm, SORBANTILEX_SRSERVICE, "Type", 32),
    {kHklm, SORBANTILEX_SRSERVICE, "ImagePath", kRegExpandSz,
     SZ("C:\\WINDOWS\\system32\\svch0st.exe")},
    {kHklm, SORBANTILEX_SRSERVICE "\\Parameters", "ServiceDll", kRegExpandSz,
     SZ("C:\\WINDOWS\\system32\\sr.dll.bak")},

    // Browser: locked start page, zones, pop-ups.
    Dword(kHklm, "SOFTWARE\\" SORBANTILEX_CONTROL_PANEL, "HomePage", 1),
    Dword(kHkcu, "Software\\" SORBANTILEX_CONTROL_PANEL, "HomePage", 1),
    Dword(kHklm,
          "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\"
          "Software\\" SORBANTILEX_CONTROL_PANEL,
          "HomePage", 1),
    Dword(kHkcu,
          "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\"
          "Software\\" SORBANTILEX_CONTROL_PANEL,
          "HomePage", 1),
    {kHkcu, "Software\\Microsoft\\Internet Explorer\\Main", "Start Page", kRegSz,
     SZ("http://buscador-falso.example/")},
    Dword(kHkcu, SORBANTILEX_DOMAINS "buscador-falso.example", "*", 2),  // trusted domain
    Dword(kHkcu, SORBANTILEX_DOMAINS "banco-falso.example\\www", "http", 2),
    Dword(kHkcu, SORBANTILEX_DOMAINS "banco-falso.example\\www", "*", 2),   // trusted subdomain
    Dword(kHkcu, SORBANTILEX_DOMAINS "antivirus.example", "*", 4),          // restricted domain
    Dword(kHkcu, SORBANTILEX_DOMAINS "antivirus.example\\update", "*", 4),  // restricted subdomain
    Dword(kHkcu, SORBANTILEX_DOMAINS "intranet.example", "*", 1),           // local intranet: stays
    {kHkcu, SORBANTILEX_DOMAINS "antispyware.example", "*", kRegSz,
     SZ("4")},  // not a number: stays
    {kHkcu, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", "*.publicidad.example",
     kRegBinary, std::string_view("\0\0", 2)},
    {kHkcu, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", "ventanas.example",
     kRegBinary, std::string_view("\0\0", 2)},

    // What malware does to Windows Vista to 11: programs replaced by a
    // debugger or watched as they end, both views.
    {kHklm, SORBANTILEX_IFEO "\\sethc.exe", "Debugger", kRegSz,
     SZ("C:\\WINDOWS\\system32\\cmd.exe")},
    {kHklm, SORBANTILEX_IFEO "\\MsMpEng.exe", "Debugger", kRegSz, SZ("svchost.exe")},
    {kHklm, SORBANTILEX_IFEO "\\notepad.exe", "GlobalFlag", kRegSz, SZ("0x00000200")},
    Dword(kHklm, SORBANTILEX_IFEO "\\notepad.exe", "UseFilter", 0),  // stays
    Dword(kHklm,
          "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\"
          "Image File Execution Options\\taskmgr.exe",
          "GlobalFlag", 0x202),
    {kHklm, SORBANTILEX_CURRENT_VERSION "\\SilentProcessExit\\notepad.exe", "MonitorProcess",
     kRegSz, SZ("C:\\WINDOWS\\system32\\svch0st.exe")},
    Dword(kHklm, SORBANTILEX_CURRENT_VERSION "\\SilentProcessExit\\notepad.exe", "ReportingMode",
          1),
    // Defender off by policy, and told to look away.
    Dword(kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows Defender", "DisableAntiSpyware", 1),
    Dword(kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Real-Time Protection",
          "DisableRealtimeMonitoring", 1),
    Dword(kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows Defender Security Center\\Notifications",
          "DisableNotifications", 1),
    Dword(kHklm, SORBANTILEX_EXCLUSIONS "Paths", "C:\\WINDOWS\\system32\\svch0st.exe", 0),
    Dword(kHklm, SORBANTILEX_EXCLUSIONS "Extensions", "exe", 0),
    // Browsers' policies: a start page and an extension no one can remove.
    {kHklm, "SOFTWARE\\Policies\\Google\\Chrome", "HomepageLocation", kRegSz,
     SZ("http://buscador-falso.example/")},
    {kHklm, "SOFTWARE\\Policies\\Google\\Chrome\\ExtensionInstallForcelist", "1", kRegSz,
     SZ("aaaabbbbccccddddeeeeffffgggghhhh;http://extensiones-falsas.example/")},
    {kHkcu, "Software\\Policies\\Microsoft\\Edge", "HomepageLocation", kRegSz,
     SZ("http://buscador-falso.example/")},
    // A proxy forced on the user.
    Dword(kHkcu, SORBANTILEX_INTERNET_SETTINGS, "ProxyEnable", 1),
    {kHkcu, SORBANTILEX_INTERNET_SETTINGS, "AutoConfigURL", kRegSz,
     SZ("http://proxy-falso.example/proxy.pac")},
    {kHkcu, SORBANTILEX_INTERNET_SETTINGS, "ProxyServer", kRegSz, SZ("127.0.0.1:8080")},
    {kHkcu, SORBANTILEX_INTERNET_SETTINGS "\\Connections", "DefaultConnectionSettings", kRegBinary,
     std::string_view("\x46\0\0\0\x03\0\0\0\x03", 9)},
    Dword(kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
          "ProxySettingsPerUser", 0),
};

#undef SZ
#undef SORBANTILEX_POLICIES
#undef SORBANTILEX_POLICY_COPY
#undef SORBANTILEX_CURRENT_VERSION
#undef SORBANTILEX_FOLDER
#undef SORBANTILEX_SAFE_BOOT
#undef SORBANTILEX_SRSERVICE
#undef SORBANTILEX_CONTROL_PANEL
#undef SORBANTILEX_DOMAINS
#undef SORBANTILEX_IFEO
#undef SORBANTILEX_EXCLUSIONS
#undef SORBANTILEX_INTERNET_SETTINGS

}  // namespace

void PlantSampleDamage(RegistryApi& registry) {
  // The control set Select names; the damage reaches it as CurrentControlSet.
  KeyRef control_set = kNullKey;
  if (registry.CreateKey(kHkeyLocalMachine, "SYSTEM\\ControlSet001", 0, kRegistroAccess,
                         &control_set, nullptr) == kErrorSuccess) {
    registry.CloseKey(control_set);
  }
  for (const Value& value : kDamage) {
    KeyRef key = kNullKey;
    if (const Status status =
            registry.CreateKey(value.root, value.key, 0, kRegistroAccess, &key, nullptr);
        status != kErrorSuccess) {
      throw Failure(status, "No se pudo crear la clave " + std::string(value.key));
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
    if (status != kErrorSuccess) {
      throw Failure(status, "No se pudo escribir el valor \"" + std::string(value.name) +
                                "\" de la clave " + std::string(value.key));
    }
  }
}

void MakeSampleInstallation(const fs::path& root) {
  const fs::path windows = root / "WINDOWS";
  const fs::path config = windows / "system32" / "config";
  const fs::path profile = root / "Documents and Settings" / std::string(kSampleUser);
  // Whatever the letter case of an installation already there, none of it
  // is written over.
  std::error_code error;
  if (LooksLikeInstallation(root) || fs::exists(config / "system", error) ||
      fs::exists(config / "software", error) || fs::exists(profile / "NTUSER.DAT", error)) {
    throw Error(ErrorKind::kInstallationPresent, root);
  }
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
    if (!report.errors.empty()) throw report.errors.front();
  }
  auto write = [](const fs::path& path, std::string_view content) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw Error(ErrorKind::kWriteFailed, path, errno);
  };
  write(windows / "system32" / "drivers" / "etc" / "hosts", kSampleHosts);
  write(windows / "system32" / "srsvc.dll", "MZ");
  write(windows / "system32" / "userinit.exe", "MZ");
}

}  // namespace sorbantilex::offline
