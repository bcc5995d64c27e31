// Every repair on a generated damaged installation and on copies of the real
// hives, against the in-memory Windows as the reference: what the hive
// files hold after the commit must be what the reference registry holds.

#include "offline_test_support.h"
#include "platform/memory/memory_files.h"
#include "registry/key_names.h"
#include "platform/memory/memory_system_info.h"
#include "platform/memory/memory_wmi.h"
#include "platform/memory/recording_window_services.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/offline_platform.h"
#include "platform/offline/installation/sample.h"
#include "registry/registro.h"
#include "repair_catalog.h"
#include "tasks/funciones.h"

namespace sorbantilex::offline::testing {
namespace {

constexpr std::string_view kHostsPath = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";

// The parts of the registry the repairs touch, compared whole.
struct Area {
  KeyRef root;
  const char* path;
};
const Area kAreas[] = {{kHkeyLocalMachine, "SOFTWARE"},
                       {kHkeyLocalMachine, "SYSTEM\\CurrentControlSet"},
                       {kHkeyCurrentUser, "Software"}};

// The same damaged system in the in-memory Windows.
struct Reference {
  MemoryRegistry registry;
  MemorySystemInfo system;
  MemoryFiles files;
  MemoryWmi wmi{registry};
  RecordingWindowServices ui;
  Funciones funciones{TaskPlatform{registry, system, files, wmi, ui}};

  Reference() {
    KeyRef key = kNullKey;
    registry.CreateKey(kHkeyCurrentUser, "Software", 0, kRegistroAccess, &key, nullptr);
    registry.CloseKey(key);
    PlantSampleDamage(registry);
    system.SetEnvironment("systemroot", "C:\\WINDOWS");
    files.AddFolder("C:\\WINDOWS\\system32\\drivers\\etc");
    files.AddFile(std::string(kHostsPath), kSampleHosts);
    files.AddFile("C:\\WINDOWS\\system32\\srsvc.dll", "MZ");
    for (const char* service : {"srservice", "Eventlog", "RpcSs"}) {
      wmi.AddService(service, MemoryWmi::ServiceState::kStopped);
    }
  }
};

// The installation's registry and files, opened for one run.
struct Offline {
  explicit Offline(const fs::path& root)
      : registry(Installation::Find(root).Hives(""), true), files(root, "C:", false) {}
  HiveRegistry registry;
  OfflineSystemInfo system{registry};
  OfflineFiles files;
  OfflineWmi wmi{registry};
  RecordingWindowServices ui;
  Funciones funciones{TaskPlatform{registry, system, files, wmi, ui}};
  CommitReport Commit() { return registry.Commit({}, files.Pending()); }
};

std::vector<std::optional<KeySnapshot>> Areas(HiveRegistry& registry) {
  std::vector<std::optional<KeySnapshot>> areas;
  for (const auto& area : kAreas) areas.push_back(Snapshot(registry, area.root, area.path));
  return areas;
}

std::string Differences(const std::vector<std::optional<KeySnapshot>>& a,
                        const std::vector<std::optional<KeySnapshot>>& b) {
  std::string all;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) all += FirstDifference(a[i], b[i]);
  return all;
}

std::vector<std::optional<KeySnapshot>> Areas(const MemoryRegistry& registry) {
  std::vector<std::optional<KeySnapshot>> areas;
  for (const auto& area : kAreas) areas.push_back(registry.Snapshot(area.root, area.path));
  return areas;
}

class RepairEndToEnd : public ::testing::TestWithParam<Repair> {};

TEST_P(RepairEndToEnd, TheHivesHoldWhatTheLiveRegistryWouldHoldAndASecondRunChangesNothing) {
  TempDir dir;
  MakeSampleInstallation(dir.path());
  Reference reference;
  (reference.funciones.*GetParam().run)();

  {
    Offline offline(dir.path());
    (offline.funciones.*GetParam().run)();
    const auto report = offline.Commit();
    ASSERT_TRUE(report.errors.empty()) << report.errors.front();
    EXPECT_EQ(offline.ui.Messages(), reference.ui.Messages());
  }
  Offline reopened(dir.path());
  const auto after = Areas(reopened.registry);
  EXPECT_EQ(Differences(after, Areas(reference.registry)), "");
  const auto hosts = ReadBytes(dir.path() / "WINDOWS" / "system32" / "drivers" / "etc" / "hosts");
  EXPECT_EQ(std::string(hosts.begin(), hosts.end()),
            reference.files.Content(kHostsPath).value_or("?"));

  (reopened.funciones.*GetParam().run)();
  EXPECT_EQ(Differences(Areas(reopened.registry), after), "");
}

INSTANTIATE_TEST_SUITE_P(Sample, RepairEndToEnd, ::testing::ValuesIn(kRepairs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RepairEndToEndTogether, AllRepairsInOneRunMatchTheReference) {
  TempDir dir;
  MakeSampleInstallation(dir.path());
  Reference reference;
  for (const auto& repair : kRepairs) (reference.funciones.*repair.run)();
  {
    Offline offline(dir.path());
    for (const auto& repair : kRepairs) (offline.funciones.*repair.run)();
    EXPECT_TRUE(offline.registry.notices().empty());
    ASSERT_TRUE(offline.Commit().errors.empty());
    EXPECT_NE(
        std::find(offline.wmi.calls.begin(), offline.wmi.calls.end(), "StopService srservice"),
        offline.wmi.calls.end());
  }
  Offline reopened(dir.path());
  EXPECT_EQ(Differences(Areas(reopened.registry), Areas(reference.registry)), "");
}

// The real hives: SYSTEM of a Windows 7 machine (minor version 5, large
// values, about 400 services) and a user's NTUSER.DAT, with the sample's
// damage planted into them and a generated SOFTWARE.
TEST(RepairEndToEndRealHives, RepairsTheRealHivesAndLeavesTheRestAsItWas) {
  const fs::path real = RealHivesFolder();
  if (real.empty()) GTEST_SKIP() << "the real hives (../shared/hives) are not there";
  TempDir dir;
  MakeSampleInstallation(dir.path());
  const fs::path config = dir.path() / "WINDOWS" / "system32" / "config";
  const fs::path user = dir.path() / "Documents and Settings" / "Juan" / "NTUSER.DAT";
  fs::copy_file(real / "SYSTEM", config / "system", fs::copy_options::overwrite_existing);
  fs::copy_file(real / "NTUSER.DAT", user, fs::copy_options::overwrite_existing);
  fs::permissions(config / "system", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(user, fs::perms::owner_read | fs::perms::owner_write);

  std::optional<KeySnapshot> untouched;
  {
    Offline offline(dir.path());
    PlantSampleDamage(offline.registry);
    untouched =
        Snapshot(offline.registry, kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Tcpip");
    ASSERT_TRUE(untouched.has_value());
    ASSERT_TRUE(offline.Commit().errors.empty());
  }
  {
    Offline offline(dir.path());
    for (const auto& repair : kRepairs) (offline.funciones.*repair.run)();
    const auto report = offline.Commit();
    ASSERT_TRUE(report.errors.empty()) << report.errors.front();
  }
  // The repaired parts are what the generated installation gets.
  TempDir generated_dir;
  MakeSampleInstallation(generated_dir.path());
  {
    Offline generated(generated_dir.path());
    for (const auto& repair : kRepairs) (generated.funciones.*repair.run)();
    ASSERT_TRUE(generated.Commit().errors.empty());
  }
  Offline generated(generated_dir.path());
  Offline repaired(dir.path());
  for (const char* path : {"SYSTEM\\CurrentControlSet\\Control\\SafeBoot",
                           "SYSTEM\\CurrentControlSet\\Services\\srservice"}) {
    EXPECT_EQ(Snapshot(repaired.registry, kHkeyLocalMachine, path),
              Snapshot(generated.registry, kHkeyLocalMachine, path))
        << path;
  }
  for (const char* path : {"Software\\Microsoft\\Windows\\CurrentVersion\\Policies",
                           "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow"}) {
    EXPECT_EQ(FirstDifference(Snapshot(repaired.registry, kHkeyCurrentUser, path),
                              Snapshot(generated.registry, kHkeyCurrentUser, path)),
              "")
        << path;
  }
  // The user's own zone entries stay; the planted ones are gone.
  const std::string domains =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
  for (const char* gone :
       {"buscador-falso.example", "banco-falso.example\\www", "antivirus.example"}) {
    EXPECT_FALSE(Snapshot(repaired.registry, kHkeyCurrentUser, domains + gone).has_value()) << gone;
  }
  for (const char* kept : {"intranet.example", "antispyware.example", "banco-falso.example"}) {
    EXPECT_TRUE(Snapshot(repaired.registry, kHkeyCurrentUser, domains + kept).has_value()) << kept;
  }
  EXPECT_EQ(
      Snapshot(repaired.registry, kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Tcpip"),
      untouched);

  // An independent reader sees the rebuilt Safe Mode key.
  SORBANTILEX_SKIP_WITHOUT_REGLOOKUP();
  const auto lines =
      Reglookup(config / "system", "/ControlSet001/Control/SafeBoot/Minimal/vga.sys");
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find(",SZ,Driver") != std::string::npos;
  })) << ::testing::PrintToString(lines);
}

// The real Windows 7 SYSTEM hive: its SafeBoot key lists 60 Minimal and 121
// Network entries, many of them services and drivers Windows XP did not
// have (RpcEptMapper, ProfSvc, Power, volmgr.sys). On that system the Safe
// Mode repair keeps every one of them as it was and adds the XP list
// entries it lacks; on Windows XP (the generated installation) it writes the
// XP lists. With both lists wiped, as ransomware leaves them, it brings
// every Windows 7 entry back with its text: the key ends as with the intact
// lists, but for the entries of the antivirus installed on that machine,
// which are no part of Windows and which no repair can know.
class RepairEndToEndWindows7SafeMode : public ::testing::TestWithParam<bool> {};

TEST_P(RepairEndToEndWindows7SafeMode, KeepsOrBringsBackEveryWindows7Entry) {
  const bool wipe = GetParam();
  const fs::path real = RealHivesFolder();
  if (real.empty()) GTEST_SKIP() << "the real hives (../shared/hives) are not there";
  constexpr std::string_view kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";
  TempDir xp_dir;
  MakeSampleInstallation(xp_dir.path());
  Offline xp(xp_dir.path());
  xp.funciones.RepararModoSeguro();
  const auto lists = Snapshot(xp.registry, kHkeyLocalMachine, kSafeBoot);
  ASSERT_TRUE(lists.has_value());

  TempDir dir;
  MakeSampleInstallation(dir.path());
  const fs::path config = dir.path() / "WINDOWS" / "system32" / "config";
  fs::copy_file(real / "SYSTEM", config / "system", fs::copy_options::overwrite_existing);
  fs::permissions(config / "system", fs::perms::owner_read | fs::perms::owner_write);
  KeySnapshot expected;
  {
    Offline seven(dir.path());
    SetText(seven.registry, kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
            "CurrentVersion", kRegSz, "6.1");
    const auto before = Snapshot(seven.registry, kHkeyLocalMachine, kSafeBoot);
    ASSERT_TRUE(before.has_value());
    ASSERT_EQ(before->subkeys.size(), 2u);
    ASSERT_EQ(before->subkeys[0].subkeys.size(), 60u);
    ASSERT_EQ(before->subkeys[1].subkeys.size(), 121u);
    if (wipe) {
      Registro registro(seven.registry);
      for (const char* group : {"Minimal", "Network"})
        registro.EliminarClave(kHkeyLocalMachine, std::string(kSafeBoot) + "\\" + group);
      ASSERT_TRUE(Snapshot(seven.registry, kHkeyLocalMachine, kSafeBoot)->subkeys.empty());
    }

    seven.funciones.RepararModoSeguro();

    expected = *before;
    for (auto& value : expected.values) {
      if (value.name == "AlternateShell") value.data = Bytes("cmd.exe");
    }
    // Windows stores its texts with the terminating zero; the program writes
    // them without, as it writes every text.
    for (auto& group : expected.subkeys) {
      for (auto& entry : group.subkeys) {
        for (auto& value : entry.values) {
          if (wipe && value.type == kRegSz && !value.data.empty() && value.data.back() == 0)
            value.data.pop_back();
        }
      }
    }
    for (std::size_t group = 0; group < 2; ++group) {
      auto& entries = expected.subkeys[group].subkeys;
      if (wipe) {
        std::erase_if(entries, [](const KeySnapshot& entry) {
          const std::string name = UpperName(entry.name);
          return name == "MCODS" || name == "MCMPFSVC" || name.starts_with("MFE");
        });
      }
      for (const auto& entry : lists->subkeys[group].subkeys) {
        if (std::none_of(entries.begin(), entries.end(),
                         [&](const KeySnapshot& had) { return SameName(had.name, entry.name); })) {
          entries.push_back(entry);
        }
      }
      std::sort(entries.begin(), entries.end(), [](const KeySnapshot& a, const KeySnapshot& b) {
        return UpperName(a.name) < UpperName(b.name);
      });
    }
    EXPECT_EQ(FirstDifference(Snapshot(seven.registry, kHkeyLocalMachine, kSafeBoot), expected),
              "");
    EXPECT_GT(expected.subkeys[0].subkeys.size(), 60u);  // dmboot.sys, sr.sys... came back
    ASSERT_TRUE(seven.Commit().errors.empty());
  }
  // The hive file holds it.
  Offline reopened(dir.path());
  EXPECT_EQ(FirstDifference(Snapshot(reopened.registry, kHkeyLocalMachine, kSafeBoot), expected),
            "");
}

INSTANTIATE_TEST_SUITE_P(RealHives, RepairEndToEndWindows7SafeMode, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ListsWiped" : "Intact"; });

// A Windows 10 installation, known by CurrentMajorVersionNumber (its
// CurrentVersion says 6.3), whose Safe Mode key ransomware deleted: the
// repair writes its generation's lists (82 and 140 entries) besides XP's
// others, as the live Windows 10 would.
TEST(RepairEndToEndWindows10, SafeModeKeyComesBackWithTheWindows10Lists) {
  constexpr std::string_view kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";
  constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  Reference reference;
  reference.system.SetVersion(std::pair{10u, 0u});
  Registro(reference.registry).EliminarClave(kHkeyLocalMachine, kSafeBoot);
  reference.funciones.RepararModoSeguro();

  TempDir dir;
  MakeSampleInstallation(dir.path());
  {
    Offline offline(dir.path());
    SetText(offline.registry, kHkeyLocalMachine, kCurrentVersion, "CurrentVersion", kRegSz, "6.3");
    SetDword(offline.registry, kHkeyLocalMachine, kCurrentVersion, "CurrentMajorVersionNumber", 10);
    SetDword(offline.registry, kHkeyLocalMachine, kCurrentVersion, "CurrentMinorVersionNumber", 0);
    Registro(offline.registry).EliminarClave(kHkeyLocalMachine, kSafeBoot);
    offline.funciones.RepararModoSeguro();
    ASSERT_TRUE(offline.Commit().errors.empty());
  }
  Offline reopened(dir.path());
  const auto after = Snapshot(reopened.registry, kHkeyLocalMachine, kSafeBoot);
  EXPECT_EQ(FirstDifference(after, reference.registry.Snapshot(kHkeyLocalMachine, kSafeBoot)), "");
  ASSERT_TRUE(after.has_value());
  ASSERT_EQ(after->subkeys.size(), 2u);
  EXPECT_EQ(after->subkeys[0].subkeys.size(), 82u + 9u);  // XP's dmboot.sys, sr.sys, vga.sys...
  EXPECT_EQ(after->subkeys[1].subkeys.size(), 140u + 20u);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
