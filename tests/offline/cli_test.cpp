// The command line as a technician runs it: exit codes, messages, what ends
// up on disk.

#include <hivex.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/task_catalog.h"
#include "offline_test_support.h"
#include "platform/offline/regf.h"
#include "platform/offline/sample.h"

namespace sorbantilex::offline::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string output;  // standard output and error together
};

// Run without a display, so that the command line stays in charge even
// where no task is named.
Outcome RunCli(const std::string& arguments) {
  const std::string command =
      std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") + SORBANTILEX_CLI +
      "' " + arguments + " 2>&1 </dev/null";
  Outcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  const int raw = ::pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
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
    {"UnknownUser", "{} --user Pedro --all", 1, "Elija uno con --user"},
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
  const auto lines = Reglookup(UserHive(), "/Software/Microsoft/Internet Explorer/Main");
  if (!lines.empty()) {
    EXPECT_NE(::testing::PrintToString(lines).find("Start Page,SZ,http://inicio.example/"),
              std::string::npos)
        << ::testing::PrintToString(lines);
  }
  // A second run finds nothing left to repair in the policies.
  const auto again = RunCli(Windows() + " --task restricciones-sistema");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.output.find("    sin cambios"), std::string::npos) << again.output;
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

}  // namespace
}  // namespace sorbantilex::offline::testing
