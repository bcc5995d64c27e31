#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

class WinlogonTest : public TaskTest {
 protected:
  void SetUp() override {
    Put(kHkeyLocalMachine, kWinlogon, "Shell", kRegExpandSz, Text("Explorer.exe evil.exe"));
    Put(kHkeyLocalMachine, kWinlogon, "Userinit", kRegSz,
        Text("C:\\WINDOWS\\system32\\userinit.exe,C:\\WINDOWS\\evil.exe"));
    Put(kHkeyLocalMachine, kWinlogon, "SFCDisable", kRegSz, Text("ffffff9d"));
    Put(kHkeyLocalMachine, kWinlogon, "DefaultUserName", kRegSz, Text("Ana"));
  }
};

TEST_F(WinlogonTest, RestoresTheThreeValuesAndNothingElse) {
  funciones_.RestaurarShell();
  funciones_.RestaurarUserinit();
  funciones_.ReactivarSFC();

  EXPECT_EQ(At(kHkeyLocalMachine, kWinlogon),
            Key("Winlogon", {Sz("Shell", "Explorer.exe"),
                             Sz("Userinit", "C:\\WINDOWS\\system32\\userinit.exe,"),
                             Dw("SFCDisable", 0), Sz("DefaultUserName", "Ana")}));
}

TEST_F(WinlogonTest, MissingValuesAreCreated) {
  Registro(registry_).EliminarClave(kHkeyLocalMachine, kWinlogon);
  CreateKey(kHkeyLocalMachine, kWinlogon);

  funciones_.ReactivarSFC();
  funciones_.RestaurarShell();

  EXPECT_EQ(At(kHkeyLocalMachine, kWinlogon),
            Key("Winlogon", {Dw("SFCDisable", 0), Sz("Shell", "Explorer.exe")}));
}

struct UserinitCase {
  std::string_view name;
  std::string_view windows_directory;
  std::string_view userinit;
};

// The usual text on a system in C:\WINDOWS; elsewhere the system's own folder,
// so that the next logon finds the program.
const UserinitCase kUserinitCases[] = {
    {"Usual", "C:\\WINDOWS", "C:\\WINDOWS\\system32\\userinit.exe,"},
    {"UsualInOtherCase", "c:\\Windows", "C:\\WINDOWS\\system32\\userinit.exe,"},
    {"OtherFolder", "C:\\WINNT", "C:\\WINNT\\system32\\userinit.exe,"},
    {"OtherDrive", "D:\\WINDOWS", "D:\\WINDOWS\\system32\\userinit.exe,"},
    // Offline, SystemRoot comes from the registry as it stands.
    {"TrailingBackslash", "D:\\WINNT\\", "D:\\WINNT\\system32\\userinit.exe,"},
    {"UsualWithTrailingBackslash", "C:\\WINDOWS\\", "C:\\WINDOWS\\system32\\userinit.exe,"},
};

class UserinitTest : public TaskTest, public ::testing::WithParamInterface<UserinitCase> {};

TEST_P(UserinitTest, NamesTheProgramOfTheRunningSystem) {
  CreateKey(kHkeyLocalMachine, kWinlogon);
  system_.SetWindowsDirectory(std::string(GetParam().windows_directory));

  funciones_.RestaurarUserinit();

  EXPECT_EQ(At(kHkeyLocalMachine, kWinlogon),
            Key("Winlogon", {Sz("Userinit", GetParam().userinit)}));
}

INSTANTIATE_TEST_SUITE_P(Directories, UserinitTest, ::testing::ValuesIn(kUserinitCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorbantilex
