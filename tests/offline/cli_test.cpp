// The command line as a technician runs it: exit codes, messages, what ends
// up on disk.

#include <hivex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/task_catalog.h"
#include "log_writer.h"
#include "offline_test_support.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/hive_file/log_recovery.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/sample.h"
#include "reg_import.h"

namespace sorbantilex::offline::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string output;  // standard output, then standard error
  std::string errors;  // standard error alone
};

// Run without a display, so that the command line stays in charge even
// where no task is named. `prefix` goes before the program (a wrapper).
Outcome RunCli(const std::string& arguments, const std::string& prefix = "") {
  std::string errors_file = (fs::temp_directory_path() / "sorbantilex-stderr-XXXXXX").string();
  const int fd = ::mkstemp(errors_file.data());
  if (fd >= 0) ::close(fd);
  const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                              prefix + " '" + SORBANTILEX_CLI + "' " + arguments + " 2>'" +
                              errors_file + "'";
  const auto result = RunShell(command);
  Outcome outcome{result.status, result.output, {}};
  const auto errors = ReadBytes(errors_file);
  fs::remove(errors_file);
  outcome.errors.assign(errors.begin(), errors.end());
  outcome.output += outcome.errors;
  return outcome;
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeSampleInstallation(dir_.path()); }
  std::string Windows() const { return "--windows " + Quote(dir_.path()); }
  fs::path UserHive() const {
    return dir_.path() / "Documents and Settings" / "Juan" / "NTUSER.DAT";
  }
  fs::path Hosts() const {
    return dir_.path() / "WINDOWS" / "system32" / "drivers" / "etc" / "hosts";
  }
  TempDir dir_;
};

struct UsageCase {
  const char* name;
  const char* arguments;  // the sample's --windows is added where {} stands first
  int status;
  const char* output_part;
};

class CommandLineUsage : public CommandLineTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CommandLineUsage, AnswersWithItsExitStatusAndMessageAndWritesNothing) {
  const auto before = FolderContents(dir_.path());
  std::string arguments = GetParam().arguments;
  if (const auto at = arguments.find("{}"); at != std::string::npos)
    arguments.replace(at, 2, Windows());
  const auto outcome = RunCli(arguments);
  EXPECT_EQ(outcome.status, GetParam().status) << outcome.output;
  EXPECT_NE(outcome.output.find(GetParam().output_part), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find('\x1b'), std::string::npos) << outcome.output;
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

const UsageCase kUsageCases[] = {
    {"Version", "--version", 0, "Sorbantilex 1.9.2"},
    {"List", "--list", 0, "restricciones-sistema        Eliminar restricciones del Sistema"},
    {"UnknownOption", "--todo", 2, "opción desconocida: --todo"},
    {"UnknownTask", "{} --task nada", 2, "reparación desconocida: nada"},
    {"MissingValue", "{} --task", 2, "falta el valor de --task"},
    {"NothingSelected", "{}", 2, "Seleccione como mínimo una tarea a realizar."},
    {"NotAnInstallation", "--windows /nonexistent --all", 1, "no existe"},
    {"NotAFolder", "--windows /dev/null --all", 1, "La ruta \"/dev/null\" no es una carpeta"},
    {"UnknownUser", "{} --user Pedro --all", 1, "Elija uno con --user"},
    // One rule: any unknown or extra argument is a usage error, wherever it stands.
    {"HelpWithMore", "--help extra", 2, "argumento inesperado: extra"},
    {"ListWithMore", "--list --all", 2, "--list no admite otros argumentos"},
    {"VersionTwice", "--version --version", 2, "--version no admite otros argumentos"},
    {"UnknownAfterVersion", "--version --bogus", 2, "opción desconocida: --bogus"},
    {"UnknownBeforeVersion", "--bogus --version", 2, "opción desconocida: --bogus"},
    {"StrayWord", "{} --all extra", 2, "argumento inesperado: extra"},
    {"WindowsTwice", "{} --windows /otra --all", 2, "--windows aparece más de una vez"},
    {"RescueWithMore", "--rescate {}", 2, "--rescate no admite otras opciones"},
    {"RescueWithoutDisplay", "--rescate", 1, "necesita una sesión gráfica"},
    {"ControlCharactersInAnArgument", "'--\x1b]0;x\x07'", 2,
     "opción desconocida: --\\x1b]0;x\\x07"},
};

INSTANTIATE_TEST_SUITE_P(Cli, CommandLineUsage, ::testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandLineTest, RepairsEverythingReportsTheChangesAndKeepsBackups) {
  const auto old_user_hive = ReadBytes(UserHive());
  const auto outcome = RunCli(Windows() + " --all --start-page 'http://inicio.example/'");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  for (const char* part :
       {"[Finalizado] Sorbantilex ha finalizado las tareas seleccionadas.",
        "  Reparar el Modo a prueba de fallos",
        "clave borrada   HKLM\\SYSTEM\\CurrentControlSet\\Control\\SafeBoot (y 1 subclaves)",
        "\"Shell\" = REG_SZ \"Explorer.exe\"", "\"SFCDisable\" = REG_DWORD 0x00000000 (0)",
        "archivo escrito C:\\WINDOWS\\system32\\drivers\\etc\\hosts (21 bytes): \"127.0.0.1 "
        "localhost\\r\\n\"",
        "Copias de seguridad:", "NTUSER.DAT.sorbantilex-"}) {
    EXPECT_NE(outcome.output.find(part), std::string::npos) << part << "\n" << outcome.output;
  }
  EXPECT_EQ(ReadBytes(Hosts()), Bytes("127.0.0.1 localhost\r\n"));
  bool backup_found = false;
  for (const auto& entry : fs::directory_iterator(UserHive().parent_path())) {
    backup_found =
        backup_found || (entry.path() != UserHive() && ReadBytes(entry.path()) == old_user_hive);
  }
  EXPECT_TRUE(backup_found);
  // A second run finds nothing left to repair in the policies.
  const auto again = RunCli(Windows() + " --task restricciones-sistema");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.output.find("    sin cambios"), std::string::npos) << again.output;

  SORBANTILEX_SKIP_WITHOUT_REGLOOKUP();
  const auto lines = Reglookup(UserHive(), "/Software/Microsoft/Internet Explorer/Main");
  EXPECT_NE(::testing::PrintToString(lines).find("Start Page,SZ,http://inicio.example/"),
            std::string::npos)
      << ::testing::PrintToString(lines);
}

TEST_F(CommandLineTest, DryRunPrintsTheChangesAndWritesNothing) {
  const auto before = FolderContents(dir_.path());
  const auto outcome = RunCli(Windows() + " --all --dry-run");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("simulación: no se ha escrito nada"), std::string::npos)
      << outcome.output;
  EXPECT_NE(outcome.output.find("\"Userinit\" = REG_SZ \"C:\\WINDOWS\\system32\\userinit.exe,\""),
            std::string::npos);
  EXPECT_EQ(FolderContents(dir_.path()), before);
  // Every box is reported under its own caption, in the order the runner takes them.
  std::size_t at = 0;
  for (const Step& step : kSteps) {
    if (!step.HasBox()) continue;
    at = outcome.output.find("\n  " + std::string(step.caption) + "\n", at);
    ASSERT_NE(at, std::string::npos) << step.caption << "\n" << outcome.output;
  }
}

// The cell of the key at `path` in `hive`, as a file offset (libhivex's
// node number); 0 when it is not there.
std::size_t KeyNode(const fs::path& hive, std::initializer_list<const char*> path) {
  hive_h* h = hivex_open(hive.c_str(), 0);
  if (h == nullptr) return 0;
  hive_node_h node = hivex_root(h);
  for (const char* name : path) node = node == 0 ? 0 : hivex_node_get_child(h, node, name);
  hivex_close(h);
  return node;
}

// Each case damages one file in a way found only while the run works or
// commits; the run then ends with exit 1, names the file, and every file of
// the installation keeps every byte.
struct CommitFailureCase {
  const char* name;
  std::function<fs::path(const fs::path& root)> damage;  // returns the file to be named
  const char* message;
};
void PrintTo(const CommitFailureCase& failure, std::ostream* out) { *out << failure.name; }

class CommandLineCommitFailure : public CommandLineTest,
                                 public ::testing::WithParamInterface<CommitFailureCase> {};

TEST_P(CommandLineCommitFailure, SavesNothingAndSaysSo) {
  const fs::path named = GetParam().damage(dir_.path());
  const auto before = FolderContents(dir_.path());
  const auto outcome = RunCli(Windows() + " --all");
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("\"" + named.string() + "\""), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find(GetParam().message), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find("\nCambios:\n"), std::string::npos) << outcome.output;
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

fs::path SoftwareOf(const fs::path& root) {
  return root / "WINDOWS" / "system32" / "config" / "software";
}

const CommitFailureCase kCommitFailureCases[] = {
    {"TruncatedSoftware",
     [](const fs::path& root) {
       fs::resize_file(SoftwareOf(root), fs::file_size(SoftwareOf(root)) / 2);
       return SoftwareOf(root);
     },
     "no es un archivo de registro válido"},
    {"BadParentOfADeletedKey",
     [](const fs::path& root) {
       const std::size_t node = KeyNode(
           SoftwareOf(root), {"Microsoft", "Windows", "CurrentVersion", "Policies", "System"});
       EXPECT_NE(node, 0u);
       auto bytes = ReadBytes(SoftwareOf(root));
       const std::uint32_t nowhere = 0x7FFFFFF0;
       std::memcpy(bytes.data() + node + 4 + 16, &nowhere, 4);  // the key's parent field
       WriteBytes(SoftwareOf(root), bytes);
       return SoftwareOf(root);
     },
     "no se ha modificado ningún archivo"},
    {"ReadOnlyHosts",
     [](const fs::path& root) {
       const fs::path hosts = root / "WINDOWS" / "system32" / "drivers" / "etc" / "hosts";
       fs::permissions(hosts, fs::perms::owner_read);
       return hosts;
     },
     "No se ha guardado ningún cambio"},
};

INSTANTIATE_TEST_SUITE_P(Cli, CommandLineCommitFailure, ::testing::ValuesIn(kCommitFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A dry run needs no write permission at all: it is what a read-only mount
// of the Windows disk is for.
TEST_F(CommandLineTest, ADryRunWorksOnAReadOnlyMountWhereTheRepairIsRefused) {
  const fs::path mounted = dir_.path().string() + "-solo-lectura";
  fs::create_directory(mounted);
  if (std::system(("mount --bind '" + dir_.path().string() + "' '" + mounted.string() +
                   "' 2>/dev/null && mount -o remount,bind,ro '" + mounted.string() +
                   "' 2>/dev/null")
                      .c_str()) != 0) {
    std::system(("umount '" + mounted.string() + "' 2>/dev/null").c_str());
    fs::remove(mounted);
    GTEST_SKIP() << "no read-only bind mount here";
  }
  const auto dry = RunCli("--windows '" + mounted.string() + "' --all --dry-run");
  const auto real = RunCli("--windows '" + mounted.string() + "' --all");
  std::system(("umount '" + mounted.string() + "'").c_str());
  fs::remove(mounted);
  EXPECT_EQ(dry.status, 0) << dry.output;
  EXPECT_NE(dry.output.find("archivo escrito C:\\WINDOWS\\system32\\drivers\\etc\\hosts"),
            std::string::npos)
      << dry.output;
  EXPECT_EQ(real.status, 1) << real.output;
  EXPECT_NE(real.output.find("solo para lectura"), std::string::npos) << real.output;
  EXPECT_NE(real.output.find("--dry-run"), std::string::npos) << real.output;
}

// The undo file the command line leaves beside the hive backups takes the
// whole run back: imported into the installation, every hive holds what it
// held before.
TEST_F(CommandLineTest, TheUndoFileBesideTheBackupsTakesTheRunBack) {
  const fs::path config = dir_.path() / "WINDOWS" / "system32" / "config";
  const auto registry_state = [&] {
    HiveRegistry registry(Installation::Find(dir_.path()).Hives(""), false);
    return std::vector{Snapshot(registry, kHkeyLocalMachine, "SOFTWARE"),
                       Snapshot(registry, kHkeyLocalMachine, "SYSTEM"),
                       Snapshot(registry, kHkeyCurrentUser, "")};
  };
  const auto before = registry_state();

  const auto outcome = RunCli(Windows() + " --all");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  const auto undo_files = [&] {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(config)) {
      if (entry.path().filename().string().starts_with("Sorbantilex-deshacer-")) {
        found.push_back(entry.path());
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  // One for the machine's keys, one for the profile's, to be imported by
  // that user.
  auto written = undo_files();
  ASSERT_EQ(written.size(), 2u);
  const std::string user_suffix = "-" + std::string(kSampleUser) + ".reg";
  if (written[0].filename().string().ends_with(user_suffix)) std::swap(written[0], written[1]);
  EXPECT_TRUE(written[1].filename().string().ends_with(user_suffix)) << written[1];
  EXPECT_FALSE(written[0].filename().string().ends_with(user_suffix)) << written[0];
  EXPECT_NE(outcome.output.find("Para deshacer los cambios del registro del equipo, importe en "
                                "Windows el archivo:\n  " +
                                written[0].string()),
            std::string::npos)
      << outcome.output;
  EXPECT_NE(outcome.output.find("Para deshacer los cambios del perfil Juan, importe en Windows "
                                "con la sesión de Juan iniciada el archivo:\n  " +
                                written[1].string()),
            std::string::npos)
      << outcome.output;
  const auto repaired = registry_state();
  ASSERT_NE(repaired, before);

  {
    HiveRegistry registry(Installation::Find(dir_.path()).Hives(""), true);
    for (const fs::path& file : written) ASSERT_EQ(ImportRegFile(registry, ReadBytes(file)), "");
    ASSERT_TRUE(registry.Commit().errors.empty());
  }
  const auto restored = registry_state();
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(FirstDifference(restored[i], before[i]), "") << i;
  }

  // A dry run, and a run that changes nothing, leave no undo file.
  RunCli(Windows() + " --all --dry-run");
  EXPECT_EQ(undo_files().size(), 2u);
  RunCli(Windows() + " --task restricciones-sistema");
  EXPECT_EQ(undo_files().size(), 4u);
  RunCli(Windows() + " --task restricciones-sistema");
  EXPECT_EQ(undo_files().size(), 4u);
}

TEST_F(CommandLineTest, ARefusedHiveStopsTheRunWithNoByteChanged) {
  auto system = ReadBytes(dir_.path() / "WINDOWS" / "system32" / "config" / "system");
  system[8] ^= 1;  // the second sequence number: a dirty hive
  SealBaseBlock(system);
  WriteBytes(dir_.path() / "WINDOWS" / "system32" / "config" / "system", system);
  const auto before = FolderContents(dir_.path());
  const auto outcome = RunCli(Windows() + " --all");
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("registros de transacciones"), std::string::npos) << outcome.output;
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

// The real NTUSER.DAT Windows left dirty, with its logs (in other letter
// cases), as Juan's hive; one more entry in its first log locks the Task
// Manager as malware does, so that the lock exists only in the log.
class DirtyUserHiveTest : public CommandLineTest {
 protected:
  static constexpr const char* kLock = "/Software/Microsoft/Windows/CurrentVersion/Policies/System";

  void SetUp() override {
    CommandLineTest::SetUp();
    const fs::path real = RealHivesFolder() / "dirty";
    if (RealHivesFolder().empty() || !fs::exists(real)) GTEST_SKIP() << "no real dirty hives";
    primary_ = ReadBytes(real / "transactions_NTUSER.DAT");
    log1_ = ReadBytes(real / "transactions_ntuser.dat.log1");
    log2_ = ReadBytes(real / "transactions_ntuser.dat.log2");

    const auto recovered =
        RecoverHive(primary_, {TransactionLog{"log1", log1_}, TransactionLog{"log2", log2_}, {}})
            .image;
    TempDir work;
    WriteBytes(work.path() / "hive", recovered);
    {
      std::unique_ptr<hive_h, int (*)(hive_h*)> h(
          hivex_open((work.path() / "hive").c_str(), HIVEX_OPEN_WRITE), hivex_close);
      ASSERT_TRUE(h);
      hive_node_h node = hivex_root(h.get());
      for (const char* part : {"Software", "Microsoft", "Windows", "CurrentVersion", "Policies"}) {
        node = hivex_node_get_child(h.get(), node, part);
        ASSERT_NE(node, 0u) << part;
      }
      node = hivex_node_add_child(h.get(), node, "System");
      ASSERT_NE(node, 0u);
      char one[4] = {1, 0, 0, 0};
      hive_set_value value{const_cast<char*>("DisableTaskMgr"), hive_t_REG_DWORD, 4, one};
      ASSERT_EQ(hivex_node_set_value(h.get(), node, &value, 0), 0);
      ASSERT_EQ(hivex_commit(h.get(), (work.path() / "locked").c_str(), 0), 0);
    }
    NewLogWriter log(log1_);
    log.Add(589, recovered, ReadBytes(work.path() / "locked"));
    log1_ = log.bytes();

    WriteBytes(UserHive(), primary_);
    WriteBytes(Folder() / "NTUSER.DAT.LOG1", log1_);
    WriteBytes(Folder() / "ntuser.dat.log2", log2_);
  }

  fs::path Folder() const { return UserHive().parent_path(); }

  std::vector<std::uint8_t> primary_, log1_, log2_;
};

TEST_F(DirtyUserHiveTest, RecoversTheHiveFromItsLogsRepairsItAndWritesItClean) {
  const auto before = FolderContents(dir_.path());
  const auto dry = RunCli(Windows() + " --task restricciones-sistema --dry-run");
  EXPECT_EQ(dry.status, 0) << dry.output;
  EXPECT_NE(dry.output.find("clave borrada   HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                            "Policies\\System"),
            std::string::npos)
      << dry.output;
  EXPECT_EQ(FolderContents(dir_.path()), before);

  const auto outcome = RunCli(Windows() + " --task restricciones-sistema");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("se ha recuperado como lo haría Windows al arrancar, con 24 "
                                "entradas de \"NTUSER.DAT.LOG1\" (de la 566 a la 589)."),
            std::string::npos)
      << outcome.output;
  // Clean, and newer than every entry of the logs, which stay as they were.
  const auto base = ReadBaseBlock(UserHive());
  ASSERT_TRUE(base.has_value());
  EXPECT_TRUE(base->checksum_ok);
  EXPECT_FALSE(base->Dirty());
  EXPECT_GT(base->sequence1, 589u);
  EXPECT_EQ(ReadBytes(Folder() / "NTUSER.DAT.LOG1"), log1_);
  EXPECT_EQ(ReadBytes(Folder() / "ntuser.dat.log2"), log2_);
  // The hive and each log kept as they were in dated backups.
  std::vector<std::vector<std::uint8_t>> backups;
  for (const auto& entry : fs::directory_iterator(Folder())) {
    if (entry.path().extension() == ".bak") backups.push_back(ReadBytes(entry.path()));
  }
  EXPECT_EQ(backups.size(), 3u);
  for (const auto* kept : {&primary_, &log1_, &log2_}) {
    EXPECT_NE(std::find(backups.begin(), backups.end(), *kept), backups.end());
  }
  // A second run finds nothing to do and changes no byte.
  const auto after = FolderContents(dir_.path());
  const auto again = RunCli(Windows() + " --task restricciones-sistema");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(again.output.find("se ha recuperado"), std::string::npos) << again.output;
  EXPECT_EQ(FolderContents(dir_.path()), after);

  // Another reader sees the repaired hive: the lock gone, Windows' own
  // changes from the logs there.
  SORBANTILEX_SKIP_WITHOUT_REGLOOKUP();
  std::string text;
  for (const auto& line : Reglookup(UserHive(), "/Software/Microsoft/Windows/CurrentVersion")) {
    text += line + "\n";
  }
  EXPECT_EQ(text.find(kLock), std::string::npos);
  EXPECT_NE(text.find("/Software/Microsoft/Windows/CurrentVersion/AppBroadcast,KEY"),
            std::string::npos);
  EXPECT_NE(text.find("/Software/Microsoft/Windows/CurrentVersion/Policies,KEY"),
            std::string::npos);
}

// A damaged hive on a repair's way refuses the whole run: a key that cannot
// be read is not an absent key. The installation has the real SYSTEM and
// NTUSER.DAT with the sample's damage planted, and one fault each.
struct DamageCase {
  const char* name;
  std::function<void(const HivePaths&)> fault;
  const char* arguments;
  fs::path HivePaths::*named;  // the file the message must name
};

class DamagedHive : public CommandLineTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedHive, RefusesTheRunNamingTheHiveAndChangesNoByte) {
  const fs::path real = RealHivesFolder();
  if (real.empty()) GTEST_SKIP() << "the real hives (../shared/hives) are not there";
  const HivePaths paths = Installation::Find(dir_.path()).Hives("");
  fs::copy_file(real / "SYSTEM", paths.system, fs::copy_options::overwrite_existing);
  fs::copy_file(real / "NTUSER.DAT", paths.user, fs::copy_options::overwrite_existing);
  for (const auto& hive : {paths.system, paths.user})
    fs::permissions(hive, fs::perms::owner_read | fs::perms::owner_write);
  Seed(paths, [](HiveRegistry& registry) { PlantSampleDamage(registry); });
  GetParam().fault(paths);
  const auto before = FolderContents(dir_.path());

  const auto outcome = RunCli(Windows() + " " + GetParam().arguments);
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.errors.find("\"" + (paths.*GetParam().named).string() + "\" está dañado"),
            std::string::npos)
      << outcome.output;
  EXPECT_EQ(outcome.output.find("[Finalizado]"), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find("Sistema operativo incompatible"), std::string::npos);
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

const std::string kZoneDomains =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";

const DamageCase kDamageCases[] = {
    {"SubkeyListOfMicrosoft",
     [](const HivePaths& paths) {
       DamageSubkeyList(paths.software, "Microsoft", ListDamage::kSignature);
     },
     "--all", &HivePaths::software},
    {"OneEntryOfTheZoneDomains",
     [](const HivePaths& paths) {
       DamageSubkeyList(paths.user, kZoneDomains, ListDamage::kFirstEntry);
     },
     "--all", &HivePaths::user},
    {"OneEntryOfTheZoneDomainsInADryRun",
     [](const HivePaths& paths) {
       DamageSubkeyList(paths.user, kZoneDomains, ListDamage::kFirstEntry);
     },
     "--all --dry-run", &HivePaths::user},
    {"SelectCurrentNamesNoControlSet",
     [](const HivePaths& paths) {
       Seed(paths, [](HiveRegistry& registry) {
         SetDword(registry, kHkeyLocalMachine, "SYSTEM\\Select", "Current", 9);
       });
     },
     "--task shell", &HivePaths::system},
};

INSTANTIATE_TEST_SUITE_P(Cli, DamagedHive, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Names from the hive and the start page reach the terminal escaped: no
// escape sequence can rewrite it.
TEST_F(CommandLineTest, ControlCharactersArePrintedEscaped) {
  const std::string evil = "zona\x1b]0;titulo\x07\x1b[2J.example";
  Seed(Installation::Find(dir_.path()).Hives(""), [&](HiveRegistry& registry) {
    CreatePath(registry, kHkeyCurrentUser, kZoneDomains + "\\" + evil);
    SetDword(registry, kHkeyCurrentUser, kZoneDomains + "\\" + evil, "*", 2);
  });
  const auto outcome = RunCli(Windows() +
                              " --task sitios-confianza --task pagina-inicio --dry-run "
                              "--start-page '\x1b[31mhttp://rojo.example/\x1b[0m'");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  for (const char c : outcome.output) {
    EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << outcome.output;
  }
  for (const char* part :
       {"zona\\x1b]0;titulo\\x07\\x1b[2J.example", "Dirección: \\x1b[31mhttp://rojo.example/"}) {
    EXPECT_NE(outcome.output.find(part), std::string::npos) << part << "\n" << outcome.output;
  }
}

// The lock belongs to the installation: reached through a bind mount, it is
// still taken. (Needs a private mount namespace; skipped where none can be
// made.)
TEST_F(CommandLineTest, ASecondProgramThroughABindMountIsRefused) {
  TempDir mount_point;
  const std::string bind = "unshare -m --propagation private sh -c 'mount --bind " +
                           dir_.path().string() + " " + mount_point.path().string() +
                           " && exec \"$0\" \"$@\"'";
  if (std::system((bind + " true >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "no private mount namespace here";
  InstanceLock first(Installation::Find(dir_.path()));
  ASSERT_TRUE(first.held());
  const auto before = FolderContents(dir_.path());
  const auto outcome = RunCli("--windows " + Quote(mount_point.path()) + " --all", bind);
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("ya se encuentra ejecutando"), std::string::npos) << outcome.output;
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
