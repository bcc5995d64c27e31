// sorbantilex-rescate on fake disks: the menu a user answers on the
// console, and the unattended repair at boot.

#include <fstream>
#include <sstream>

#include "rescue_fakes.h"
#include "ui/rescue/console.h"

namespace sorbantilex::offline::testing {
namespace {

class RescueConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.places.mount_base = dir_.path() / "run" / "discos";
    settings_.places.mounts = dir_.path() / "mounts";
    settings_.log = dir_.path() / "run" / "registro.txt";
    WriteBytes(settings_.places.mounts, {});
    MakeWindowsTree(dir_.path() / "clean", "Windows 10 Pro", "22H2", "19045", true, false);
    MakeWindowsTree(dir_.path() / "hibernated", "Windows 10 Home", "22H2", "19045", false, true);
  }
  // The PC's disk holds `partitions`, /dev/sdz3 the clean installation,
  // /dev/sdz5 the hibernated one.
  void Disk(FakeCommands& fake, const std::vector<FakePartition>& partitions) const {
    fake.answers[kLsblkCommand] = {0, LsblkOf(partitions)};
    fake.contents["/dev/sdz3"] = dir_.path() / "clean";
    fake.contents["/dev/sdz5"] = dir_.path() / "hibernated";
  }
  std::string Folder(const char* name) const {
    return (settings_.places.mount_base / name).string();
  }

  TempDir dir_;
  rescue_console::Settings settings_;
  FakeCommands fake_;
};

const FakePartition kClean{"/dev/sdz3", "ntfs", "Windows", 255013830656};
const FakePartition kHibernated{"/dev/sdz5", "ntfs", "Otro", 107374182400};
const FakePartition kBitLocker{"/dev/sdz6", "BitLocker", "", 107374182400};

TEST_F(RescueConsoleTest, MenuRepairsAllShowsTheLogAndPowersOff) {
  Disk(fake_, {kClean});
  const std::string folder = Folder("sdz3");
  fake_.answers["sorbantilex --windows " + folder + " --all"] = {0, "Se ha reparado todo.\n"};
  std::istringstream in("1\n1\nv\na\n");
  std::ostringstream out;

  EXPECT_EQ(rescue_console::RunMenu(fake_, settings_, in, out), 0);

  EXPECT_NE(out.str().find("1) Windows 10 Pro 22H2 (compilación 19045) — 237,5 GB — «Windows» — "
                           "/dev/sdz3"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("Se ha reparado todo."), std::string::npos);
  const std::vector<std::string> expected_tail = {
      "ntfs-3g -o rw,nodev,nosuid,noexec /dev/sdz3 " + folder,
      "sorbantilex --windows " + folder + " --all",
      "sync",
      "umount " + folder,
      "sync",
      "systemctl poweroff"};
  ASSERT_GE(fake_.calls.size(), expected_tail.size());
  EXPECT_EQ(std::vector<std::string>(fake_.calls.end() - expected_tail.size(), fake_.calls.end()),
            expected_tail);
  // "Ver el registro" showed the commands run and their output.
  const std::size_t log_shown = out.str().find("Registro de lo hecho");
  ASSERT_NE(log_shown, std::string::npos);
  EXPECT_NE(out.str().find("$ sorbantilex --windows " + folder +
                               " --all\nSe ha reparado todo.\n"
                               "(estado 0)",
                           log_shown),
            std::string::npos)
      << out.str();
}

// Only a repair mounts the volume for writing: the report reads it through
// a read-only mount, and going back mounts nothing.
TEST_F(RescueConsoleTest, MenuMountsForWritingOnlyToRepair) {
  struct Case {
    const char* answers;
    const char* run;  // the command line's options after the folder; empty: none
  };
  for (const Case& c : {Case{"1\n3\n", "--informe"}, Case{"1\n0\n", ""}}) {
    SCOPED_TRACE(c.answers);
    FakeCommands fake;
    Disk(fake, {kClean});
    const std::string folder = Folder("sdz3");
    std::istringstream in(c.answers);
    std::ostringstream out;

    EXPECT_EQ(rescue_console::RunMenu(fake, settings_, in, out), 0);

    EXPECT_TRUE(fake.CallsStarting("ntfs-3g -o rw").empty()) << out.str();
    const auto runs = fake.CallsStarting("sorbantilex --windows");
    if (*c.run == 0) {
      EXPECT_TRUE(runs.empty());
    } else {
      EXPECT_EQ(runs, std::vector<std::string>{"sorbantilex --windows " + folder + " " + c.run});
    }
  }
}

TEST_F(RescueConsoleTest, MenuCancelsAHibernatedVolumeOnEnter) {
  Disk(fake_, {kHibernated});
  std::istringstream in("1\n\n");
  std::ostringstream out;

  EXPECT_EQ(rescue_console::RunMenu(fake_, settings_, in, out), 0);

  EXPECT_NE(out.str().find("Windows está hibernado"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("0) Cancelar"), std::string::npos);
  EXPECT_NE(out.str().find("Cancelado: no se ha cambiado nada."), std::string::npos);
  EXPECT_TRUE(fake_.CallsStarting("ntfs-3g -o rw").empty());
  EXPECT_TRUE(fake_.CallsStarting("ntfsrecover").empty());
}

struct AutoCase {
  const char* name;
  std::vector<FakePartition> partitions;
  int repair_status;
  int expected;
  std::vector<const char*> said;
};

TEST_F(RescueConsoleTest, AutoRepairsWhatIsSafeAndSaysHowItEnded) {
  const AutoCase cases[] = {
      {"one Windows, repaired", {kClean}, 0, 0, {"== /dev/sdz3: Windows 10 Pro 22H2"}},
      {"the repair failed", {kClean}, 1, 1, {"no ha terminado bien (estado 1)"}},
      {"hibernated and BitLocker beside it",
       {kClean, kHibernated, kBitLocker},
       0,
       1,
       {"== /dev/sdz5: Windows 10 Home 22H2 (compilación 19045), hibernado",
        "Windows está hibernado", "== /dev/sdz6: cifrado con BitLocker",
        "No se ha tocado este volumen."}},
      {"nothing found", {}, 0, 1, {"No se ha encontrado ninguna instalación de Windows"}},
  };
  for (const AutoCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCommands fake;
    Disk(fake, c.partitions);
    const std::string folder = Folder("sdz3");
    fake.answers["sorbantilex --windows " + folder + " --all"] = {c.repair_status,
                                                                  "Informe de cambios\n"};
    std::ostringstream out;

    EXPECT_EQ(rescue_console::RunAuto(fake, settings_, out), c.expected);

    const std::string said = out.str();
    EXPECT_TRUE(said.ends_with("\nsorbantilex.auto: estado " + std::to_string(c.expected) + "\n"))
        << said;
    for (const char* phrase : c.said) EXPECT_NE(said.find(phrase), std::string::npos) << phrase;
    // Only the installation that can be repaired is mounted read-write.
    const bool has_clean = !c.partitions.empty();
    EXPECT_EQ(fake.CallsStarting("ntfs-3g -o rw"),
              has_clean ? std::vector<std::string>{"ntfs-3g -o rw,nodev,nosuid,noexec /dev/sdz3 " +
                                                   folder}
                        : std::vector<std::string>{});
    EXPECT_EQ(said.find("Informe de cambios") != std::string::npos, has_clean);
  }
}

}  // namespace
}  // namespace sorbantilex::offline::testing
