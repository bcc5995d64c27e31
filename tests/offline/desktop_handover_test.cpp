// The desktop window as a program of its own: the command line links no Qt
// and hands over to sorbantilex-desktop, which refuses what it cannot do.

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "offline_test_support.h"

namespace sorbantilex::offline::testing {
namespace {

using Outcome = CommandResult;

Outcome RunCommand(const std::string& command) { return RunShell(command + " 2>&1"); }

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

constexpr const char* kWithDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen ";
constexpr const char* kWithoutDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";

TEST(DesktopHandover, OnlyTheDesktopProgramLoadsQt) {
  const Outcome cli = RunCommand(std::string("ldd ") + Quote(SORBANTILEX_CLI));
  ASSERT_EQ(cli.status, 0) << cli.output;
  EXPECT_EQ(cli.output.find("libQt"), std::string::npos) << cli.output;
  const Outcome desktop = RunCommand(std::string("ldd ") + Quote(SORBANTILEX_DESKTOP));
  EXPECT_NE(desktop.output.find("libQt6Widgets"), std::string::npos) << desktop.output;
}

class CopiedProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.path() / "sorbantilex";
    fs::copy_file(SORBANTILEX_CLI, program_);
  }
  TempDir dir_;
  fs::path program_;
};

TEST_F(CopiedProgram, HandsTheWindowOverWithTheSameArguments) {
  const fs::path desktop = dir_.path() / "sorbantilex-desktop";
  std::ofstream(desktop) << "#!/bin/sh\nprintf '[%s]' \"$0\" \"$@\"\n";
  fs::permissions(desktop, fs::perms::owner_all);
  const Outcome outcome =
      RunCommand(kWithDisplay + Quote(program_) + " --windows '/mnt/disco de Windows' --user Juan");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_EQ(outcome.output,
            "[" + desktop.string() + "][--windows][/mnt/disco de Windows][--user][Juan]");

  // Command-line work stays with the command line.
  const Outcome listed = RunCommand(kWithDisplay + Quote(program_) + " --list");
  EXPECT_EQ(listed.output.find("[--list]"), std::string::npos) << listed.output;
}

TEST_F(CopiedProgram, SaysSoWhenTheDesktopProgramIsMissing) {
  if (fs::exists(SORBANTILEX_DESKTOP_INSTALLED)) {
    GTEST_SKIP() << SORBANTILEX_DESKTOP_INSTALLED << " is installed";
  }
  const Outcome outcome = RunCommand(kWithDisplay + Quote(program_) + " --windows /mnt/w");
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("falta sorbantilex-desktop"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("--all"), std::string::npos) << outcome.output;
}

TEST(DesktopProgram, RefusesWhatOnlyTheCommandLineDoes) {
  struct Case {
    const char* environment;
    const char* arguments;
    int status;
    const char* output_part;
  };
  for (const Case& c : {
           Case{kWithoutDisplay, "--windows /mnt/w", 1, "ninguna sesión gráfica"},
           Case{kWithDisplay, "--windows /mnt/w --all", 2, "úselas con sorbantilex"},
           Case{kWithDisplay, "--task shell", 2, "úselas con sorbantilex"},
           Case{kWithDisplay, "--task nada", 2, "reparación desconocida: nada"},
           Case{kWithoutDisplay, "--version", 0, "Sorbantilex 1.9.2"},
       }) {
    const Outcome outcome =
        RunCommand(c.environment + Quote(SORBANTILEX_DESKTOP) + " " + c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.output_part), std::string::npos) << c.arguments << "\n"
                                                                     << outcome.output;
  }
}

}  // namespace
}  // namespace sorbantilex::offline::testing
