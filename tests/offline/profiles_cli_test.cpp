// Every profile of an installation in one run, and the report of what each
// repair would change, as a technician runs them from the command line.

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>

#include "app/task_catalog.h"
#include "offline_test_support.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/sample.h"
#include "ui/cli/report.h"

namespace sorbantilex::offline::testing {
namespace {

constexpr std::string_view kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// Runs the command line without a display; standard error is left out of
// the output but its exit status stands.
CommandResult Cli(const std::string& arguments) {
  return RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                  std::string(SORBANTILEX_CLI) + "' " + arguments + " 2>/dev/null");
}

// The report of `--informe --json` as read by Python's own JSON parser: one
// line per profile ("P name"), per finding ("F task|profile|key|value|change"),
// per repair error ("E task") and per installation error ("X"). Fails the
// test when the document does not parse.
struct JsonReport {
  std::set<std::string> profiles;
  std::set<std::string> findings;
  std::vector<std::string> lines;
  int status = -1;
};

JsonReport ReadJsonReport(const std::string& arguments, const fs::path& scratch) {
  const fs::path document = scratch / "informe.json";
  JsonReport report;
  report.status = Cli(arguments + " --informe --json > " + Quote(document)).status;
  const auto parsed = RunShell(
      "python3 -c '\n"
      "import json, sys\n"
      "doc = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
      "for inst in doc[\"installations\"]:\n"
      "    if inst[\"error\"] is not None: print(\"X\")\n"
      "    for p in inst[\"profiles\"]: print(\"P\", p[\"name\"])\n"
      "    for r in inst[\"repairs\"]:\n"
      "        if r[\"errors\"]: print(\"E\", r[\"task\"])\n"
      "    for f in inst[\"findings\"]:\n"
      "        print(\"F \" + \"|\".join(str(f[k]) for k in\n"
      "              (\"task\", \"profile\", \"key\", \"value\", \"change\")))\n"
      "' " +
      Quote(document));
  EXPECT_EQ(parsed.status, 0) << "not a JSON document:\n"
                              << std::string(ReadBytes(document).begin(),
                                             ReadBytes(document).end());
  std::istringstream lines(parsed.output);
  for (std::string line; std::getline(lines, line);) {
    report.lines.push_back(line);
    if (line.starts_with("P ")) report.profiles.insert(line.substr(2));
    if (line.starts_with("F ")) report.findings.insert(line.substr(2));
  }
  fs::remove(document);
  return report;
}

// A finding line: task|profile|key|value|change ("None" for null).
std::string Found(std::string_view task, std::string_view profile, std::string_view key,
                  std::string_view value, std::string_view change) {
  return std::string(task) + "|" + std::string(profile) + "|" + std::string(key) + "|" +
         std::string(value) + "|" + std::string(change);
}

// Adds a profile folder with its own user hive, damaged by `damage`.
void AddProfile(const fs::path& root, const std::string& name,
                const std::function<void(HiveRegistry&)>& damage) {
  const fs::path folder = root / "Documents and Settings" / name;
  fs::create_directories(folder);
  WriteBlankHive(folder / "NTUSER.DAT", "$$$PROTO.HIV", 3);
  const Installation installation = Installation::Find(root);
  Seed(HivePaths{installation.software(), installation.system(), folder / "NTUSER.DAT", {}},
       damage);
}

// Adds an entry of Windows' profile list pointing at `image` (as Windows
// writes it, "C:\..." or "D:\...").
void AddProfileListEntry(const fs::path& root, const std::string& sid, const std::string& image) {
  const Installation installation = Installation::Find(root);
  Seed(HivePaths{installation.software(), installation.system(), {}, {}}, [&](HiveRegistry& r) {
    const std::string key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
    CreatePath(r, kHkeyLocalMachine, key);
    SetText(r, kHkeyLocalMachine, key, "ProfileImagePath", kRegExpandSz, image);
  });
}

struct InstallationCase {
  const char* name;
  std::function<void(const fs::path& root)> add;  // beyond the sample (Juan, damaged)
  std::set<std::string> profiles;
  std::vector<std::string> found;      // findings the report must hold
  std::vector<std::string> not_found;  // and must not
  // What the repair must have left: user hive (beneath the root) and key
  // that must be gone.
  std::vector<std::pair<std::string, std::string>> gone;
};
void PrintTo(const InstallationCase& c, std::ostream* out) { *out << c.name; }

const std::string kSystemPolicy = std::string(kPolicies) + "System";
const std::string kExplorerPolicy = std::string(kPolicies) + "Explorer";

const InstallationCase kInstallations[] = {
    {"OneProfile",
     [](const fs::path&) {},
     {"Juan"},
     {Found("restricciones-sistema", "Juan", "HKCU\\" + kSystemPolicy, "None", "delete-key"),
      Found("shell", "None", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
            "Shell", "set-value")},
     {},
     {{"Documents and Settings/Juan/NTUSER.DAT", kSystemPolicy}}},
    {"TwoProfilesWithDifferentDamage",
     [](const fs::path& root) {
       AddProfile(root, "Ana", [](HiveRegistry& r) {
         CreatePath(r, kHkeyCurrentUser, kExplorerPolicy);
         SetDword(r, kHkeyCurrentUser, kExplorerPolicy, "NoRun", 1);
       });
     },
     {"Juan", "Ana"},
     {Found("restricciones-sistema", "Juan", "HKCU\\" + kSystemPolicy, "None", "delete-key"),
      Found("restricciones-explorador", "Ana", "HKCU\\" + kExplorerPolicy, "None", "delete-key"),
      Found("restricciones-explorador", "Juan", "HKCU\\" + kExplorerPolicy, "None", "delete-key")},
     // Ana's hive holds no system policy; the machine's keys are found once.
     {Found("restricciones-sistema", "Ana", "HKCU\\" + kSystemPolicy, "None", "delete-key")},
     {{"Documents and Settings/Juan/NTUSER.DAT", kSystemPolicy},
      {"Documents and Settings/Ana/NTUSER.DAT", kExplorerPolicy}}},
    {"AProfileWhoseHiveIsMissing",
     [](const fs::path& root) {
       fs::create_directories(root / "Documents and Settings" / "Pedro");
       AddProfileListEntry(root, "S-1-5-21-1757981266-1645522239-839522115-1005",
                           "%SystemDrive%\\Documents and Settings\\Pedro");
     },
     {"Juan"},
     {Found("restricciones-sistema", "Juan", "HKCU\\" + kSystemPolicy, "None", "delete-key")},
     {},
     {{"Documents and Settings/Juan/NTUSER.DAT", kSystemPolicy}}},
    {"AProfileOnAnotherDrive",
     [](const fs::path& root) {
       AddProfileListEntry(root, "S-1-5-21-1757981266-1645522239-839522115-1006",
                           "D:\\Users\\Luis");
     },
     {"Juan"},
     {Found("restricciones-sistema", "Juan", "HKCU\\" + kSystemPolicy, "None", "delete-key")},
     {},
     {{"Documents and Settings/Juan/NTUSER.DAT", kSystemPolicy}}},
};

class EveryProfile : public ::testing::TestWithParam<InstallationCase> {
 protected:
  void SetUp() override {
    root_ = dir_.path() / "win";
    MakeSampleInstallation(root_);
    GetParam().add(root_);
  }
  std::string Windows() const { return "--windows " + Quote(root_); }
  TempDir dir_;
  fs::path root_;
};

// The report finds each profile's own damage, writes nothing; the repair
// without --user repairs every profile in one run; afterwards the report
// finds nothing.
TEST_P(EveryProfile, TheReportFindsWhatTheRepairThenRemoves) {
  const auto before = FolderContents(root_);
  const JsonReport report = ReadJsonReport(Windows(), dir_.path());
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(FolderContents(root_), before) << "the report changed the installation";
  EXPECT_EQ(report.profiles, GetParam().profiles);
  for (const std::string& finding : GetParam().found) {
    EXPECT_TRUE(report.findings.count(finding)) << finding << "\n"
                                                << ::testing::PrintToString(report.lines);
  }
  for (const std::string& finding : GetParam().not_found) {
    EXPECT_FALSE(report.findings.count(finding)) << finding;
  }
  // A key of the machine is a finding once, however many profiles.
  std::size_t shell = 0;
  for (const std::string& finding : report.findings) shell += finding.starts_with("shell|");
  EXPECT_EQ(shell, 1u);

  const auto repaired = Cli(Windows() + " --all");
  ASSERT_EQ(repaired.status, 0) << repaired.output;
  for (const auto& [hive, key] : GetParam().gone) {
    HiveRegistry registry(HivePaths{Installation::Find(root_).software(),
                                    Installation::Find(root_).system(),
                                    root_ / hive,
                                    {}},
                          false);
    EXPECT_FALSE(Snapshot(registry, kHkeyCurrentUser, key).has_value()) << hive << " " << key;
  }
  const JsonReport after = ReadJsonReport(Windows(), dir_.path());
  EXPECT_EQ(after.status, 0);
  EXPECT_EQ(after.findings, std::set<std::string>{}) << ::testing::PrintToString(after.lines);
}

INSTANTIATE_TEST_SUITE_P(Cli, EveryProfile, ::testing::ValuesIn(kInstallations),
                         [](const auto& info) { return std::string(info.param.name); });

class TwoProfiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() / "win";
    MakeSampleInstallation(root_);
    AddProfile(root_, "Ana", [](HiveRegistry& r) {
      CreatePath(r, kHkeyCurrentUser, kSystemPolicy);
      SetDword(r, kHkeyCurrentUser, kSystemPolicy, "DisableTaskMgr", 1);
    });
  }
  std::string Windows() const { return "--windows " + Quote(root_); }
  fs::path AnaHive() const { return root_ / "Documents and Settings" / "Ana" / "NTUSER.DAT"; }
  TempDir dir_;
  fs::path root_;
};

// --user limits the repairs of HKEY_CURRENT_USER to the profiles it names;
// the change report tells each profile's changes apart; the undo files are
// one for the machine and one per profile changed.
TEST_F(TwoProfiles, UserNamesTheProfilesRepairedAndEachGetsItsUndoFile) {
  const auto ana_before = ReadBytes(AnaHive());
  const auto juan_only = Cli(Windows() + " --user juan --task restricciones-sistema");
  ASSERT_EQ(juan_only.status, 0) << juan_only.output;
  EXPECT_EQ(ReadBytes(AnaHive()), ana_before);
  EXPECT_EQ(juan_only.output.find("perfil Ana"), std::string::npos) << juan_only.output;

  const auto both = Cli(Windows() + " --task restricciones-sistema");
  ASSERT_EQ(both.status, 0) << both.output;
  EXPECT_NE(both.output.find("    perfil Juan:\n      sin cambios\n    perfil Ana:\n      clave "
                             "borrada   HKCU\\" +
                             kSystemPolicy),
            std::string::npos)
      << both.output;
  std::set<std::string> undo_files;
  for (const auto& entry :
       fs::directory_iterator(Installation::Find(root_).software().parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("Sorbantilex-deshacer-")) undo_files.insert(name);
  }
  // The first run: the machine's and Juan's; the second: Ana's alone.
  std::size_t machine = 0, juan = 0, ana = 0;
  for (const std::string& name : undo_files) {
    if (name.find("-Juan") != std::string::npos) {
      ++juan;
    } else if (name.find("-Ana") != std::string::npos) {
      ++ana;
    } else {
      ++machine;
    }
  }
  EXPECT_EQ(machine, 1u) << ::testing::PrintToString(undo_files);
  EXPECT_EQ(juan, 1u) << ::testing::PrintToString(undo_files);
  EXPECT_EQ(ana, 1u) << ::testing::PrintToString(undo_files);
}

// Text from the disk reaches the JSON document escaped: quotes,
// backslashes and control characters, as the document's parser reads them
// back. (The hive store cannot plant names outside ASCII; those are below.)
TEST_F(TwoProfiles, TheJsonDocumentCarriesAnyNameEscaped) {
  const std::string nasty = "a\"b\\c\x01\x1b[2J\t\x7f";
  const Installation installation = Installation::Find(root_);
  Seed(HivePaths{installation.software(), installation.system(), AnaHive(), {}},
       [&](HiveRegistry& r) { SetDword(r, kHkeyCurrentUser, kSystemPolicy, nasty, 7); });
  const fs::path document = dir_.path() / "informe.json";
  ASSERT_EQ(Cli(Windows() + " --user Ana --informe --json > " + Quote(document)).status, 0);
  const auto parsed = RunShell(
      "python3 -c '\n"
      "import json, sys\n"
      "doc = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
      "for f in doc[\"installations\"][0][\"findings\"]:\n"
      "    for v in f.get(\"values\", []):\n"
      "        if v[\"name\"].startswith(\"a\"): print(ascii(v[\"name\"]), v[\"data\"])\n"
      "' " +
      Quote(document));
  EXPECT_EQ(parsed.status, 0);
  EXPECT_EQ(parsed.output, "'a\"b\\\\c\\x01\\x1b[2J\\t\\x7f' 7\n");
}

// Whatever bytes a name holds, the string written is JSON that reads back
// as the text, each byte that is no UTF-8 (and each lone surrogate) as
// U+FFFD.
TEST(ReportJson, StringsReadBackAsTheirText) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "'plain'"},
      {"\"\\/", "'\"\\\\/'"},
      {std::string("\0\x1f\x7f\n\r\t", 6), "'\\x00\\x1f\\x7f\\n\\r\\t'"},
      {"\xc3\xb1\xe2\x80\xa8", "'\\xf1\\u2028'"},
      {"\xff", "'\\ufffd'"},
      {"\xe2\x82", "'\\ufffd\\ufffd'"},
      {"\xed\xa0\x80x", "'\\ufffdx'"},
      {"\xc0\xaf", "'\\ufffd\\ufffd'"},
  };
  TempDir dir;
  std::string document = "[";
  std::string expected;
  for (const auto& [text, shown] : cases) {
    document += (document.size() > 1 ? "," : "") + cli::JsonString(text);
    expected += shown + "\n";
  }
  WriteBytes(dir.path() / "cadenas.json", Bytes(document + "]"));
  const auto parsed = RunShell(
      "python3 -c 'import json, sys\n"
      "for s in json.load(open(sys.argv[1], encoding=\"utf-8\")): print(ascii(s))' " +
      Quote(dir.path() / "cadenas.json"));
  EXPECT_EQ(parsed.status, 0) << document;
  EXPECT_EQ(parsed.output, expected);
}

// The report writes nothing and takes no lock: a hibernated volume, which a
// repair refuses, and a read-only mount are examined all the same.
TEST_F(TwoProfiles, TheReportWorksOnAHibernatedVolumeAndAReadOnlyMount) {
  WriteBytes(root_ / "hiberfil.sys", Bytes("HIBR and the rest of the image"));
  const auto before = FolderContents(root_);
  EXPECT_EQ(Cli(Windows() + " --all").status, 1);
  const auto text = Cli(Windows() + " --informe");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.output.find("perfil Ana:"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("nada que reparar"), std::string::npos) << text.output;
  EXPECT_EQ(FolderContents(root_), before);

  const fs::path mounted = dir_.path() / "solo-lectura";
  fs::create_directory(mounted);
  if (std::system(("mount --bind " + Quote(root_) + " " + Quote(mounted) +
                   " 2>/dev/null && mount -o remount,bind,ro " + Quote(mounted) + " 2>/dev/null")
                      .c_str()) != 0) {
    std::system(("umount " + Quote(mounted) + " 2>/dev/null").c_str());
    GTEST_SKIP() << "no read-only bind mount here";
  }
  const JsonReport report = ReadJsonReport("--windows " + Quote(mounted), dir_.path());
  std::system(("umount " + Quote(mounted)).c_str());
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(report.profiles, (std::set<std::string>{"Juan", "Ana"}));
  EXPECT_TRUE(report.findings.count(
      Found("restricciones-sistema", "Ana", "HKCU\\" + kSystemPolicy, "None", "delete-key")));
  EXPECT_EQ(FolderContents(root_), before);
}

// The catalogue's per-profile flag is what the repairs do: on the sample,
// whose damage every repair meets, a repair finds something in
// HKEY_CURRENT_USER exactly when it is flagged to run per profile.
TEST(ReportCatalogue, RepairsFlaggedPerProfileAreThoseThatChangeTheUsersKeys) {
  TempDir dir;
  MakeSampleInstallation(dir.path());
  const JsonReport report = ReadJsonReport("--windows " + Quote(dir.path()), dir.path());
  ASSERT_EQ(report.status, 0);
  for (const Step& step : kSteps) {
    if (!step.HasBox()) continue;
    bool in_user = false;
    for (const std::string& finding : report.findings) {
      in_user = in_user || finding.starts_with(std::string(step.key) + "|Juan|");
    }
    EXPECT_EQ(in_user, step.per_user) << step.key;
  }
}

}  // namespace
}  // namespace sorbantilex::offline::testing
