#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

const Repair kRepair{"QuitarDirectivasNavegadores", &Funciones::QuitarDirectivasNavegadores};

const PlantedKey kCases[] = {
    {"ChromeMachineWide",
     kHkeyLocalMachine,
     "SOFTWARE\\Policies\\Google\\Chrome\\"
     "ExtensionInstallForcelist",
     {Sz("1", "aaaabbbb;http://evil.example/")},
     std::nullopt},
    {"ChromeInTheWow64View",
     kHkeyLocalMachine,
     "SOFTWARE\\WOW6432Node\\Policies\\Google\\Chrome",
     {Sz("HomepageLocation", "http://evil.example/")},
     std::nullopt},
    {"ChromeForTheUser",
     kHkeyCurrentUser,
     "Software\\Policies\\Google\\Chrome",
     {Sz("HomepageLocation", "http://evil.example/")},
     std::nullopt},
    {"EdgeMachineWide",
     kHkeyLocalMachine,
     "SOFTWARE\\Policies\\Microsoft\\Edge",
     {Dw("RestoreOnStartup", 4)},
     std::nullopt},
    {"EdgeForTheUser",
     kHkeyCurrentUser,
     "Software\\Policies\\Microsoft\\Edge",
     {Dw("RestoreOnStartup", 4)},
     std::nullopt},
    {"Brave",
     kHkeyLocalMachine,
     "SOFTWARE\\Policies\\BraveSoftware\\Brave",
     {Sz("HomepageLocation", "http://evil.example/")},
     std::nullopt},
    {"Firefox",
     kHkeyCurrentUser,
     "Software\\Policies\\Mozilla\\Firefox\\Homepage",
     {Sz("URL", "http://evil.example/")},
     std::nullopt},
    {"Chromium",
     kHkeyLocalMachine,
     "SOFTWARE\\WOW6432Node\\Policies\\Chromium",
     {Sz("HomepageLocation", "http://evil.example/")},
     std::nullopt},
    {"TheVendorsOtherPoliciesStay",
     kHkeyLocalMachine,
     "SOFTWARE\\Policies\\Google\\Update",
     {Dw("AutoUpdateCheckPeriodMinutes", 0)},
     {{Dw("AutoUpdateCheckPeriodMinutes", 0)}}},
    {"AKeyOfASimilarNameStays",
     kHkeyLocalMachine,
     "SOFTWARE\\Policies\\Microsoft\\EdgeUpdate",
     {Dw("UpdateDefault", 0)},
     {{Dw("UpdateDefault", 0)}}},
    {"TheBrowsersOwnSettingsStay",
     kHkeyCurrentUser,
     "Software\\Google\\Chrome",
     {Sz("Homepage", "http://mine.example/")},
     {{Sz("Homepage", "http://mine.example/")}}},
};

class NavegadoresTest : public TaskTest, public ::testing::WithParamInterface<PlantedKey> {};

TEST_P(NavegadoresTest, LeavesTheKeyAsExpectedAndNothingElseChanges) {
  ExpectRepairLeaves(GetParam(), kRepair);
}

INSTANTIATE_TEST_SUITE_P(Planted, NavegadoresTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TaskTest, NavegadoresWithNoPoliciesIsNoError) {
  const SystemState before = State();
  funciones_.QuitarDirectivasNavegadores();
  EXPECT_EQ(State(), before);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

}  // namespace
}  // namespace sorbantilex
