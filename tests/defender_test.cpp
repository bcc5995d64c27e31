#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

const std::string kPolicies = "SOFTWARE\\Policies\\Microsoft\\";
const std::string kExclusions = "SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\";

const Repair kRepair{"ReactivarDefender", &Funciones::ReactivarDefender};

const PlantedKey kCases[] = {
    {"PolicyKeyGoesWhole",
     kHkeyLocalMachine,
     kPolicies + "Windows Defender",
     {Dw("DisableAntiSpyware", 1), Dw("DisableAntiVirus", 1)},
     std::nullopt},
    {"PolicySubkeyGoesWithIt",
     kHkeyLocalMachine,
     kPolicies + "Windows Defender\\Real-Time Protection",
     {Dw("DisableRealtimeMonitoring", 1)},
     std::nullopt},
    {"SecurityCenterPolicyGoes",
     kHkeyLocalMachine,
     kPolicies + "Windows Defender Security Center\\Notifications",
     {Dw("DisableNotifications", 1)},
     std::nullopt},
    {"APolicyKeyOfASimilarNameStays",
     kHkeyLocalMachine,
     kPolicies + "Windows Defender Advanced Threat Protection",
     {Dw("ForceDefenderPassiveMode", 1)},
     {{Dw("ForceDefenderPassiveMode", 1)}}},
    {"ExcludedPathsGoTheKeyStays",
     kHkeyLocalMachine,
     kExclusions + "Paths",
     {Dw("C:\\Windows\\svch0st.exe", 0), Dw("C:\\", 0), Sz("", "")},
     {{}}},
    {"ExcludedProcesses", kHkeyLocalMachine, kExclusions + "Processes", {Dw("evil.exe", 0)}, {{}}},
    {"ExcludedExtensions", kHkeyLocalMachine, kExclusions + "Extensions", {Dw("exe", 0)}, {{}}},
    {"ExcludedAddresses",
     kHkeyLocalMachine,
     kExclusions + "IpAddresses",
     {Dw("10.0.0.1", 0)},
     {{}}},
    {"OtherExclusionListsStay",
     kHkeyLocalMachine,
     kExclusions + "TemporaryPaths",
     {Dw("C:\\Temp", 0)},
     {{Dw("C:\\Temp", 0)}}},
    {"DefendersOwnSettingsStay",
     kHkeyLocalMachine,
     "SOFTWARE\\Microsoft\\Windows Defender\\Real-Time Protection",
     {Dw("DisableRealtimeMonitoring", 0)},
     {{Dw("DisableRealtimeMonitoring", 0)}}},
};

class DefenderTest : public TaskTest, public ::testing::WithParamInterface<PlantedKey> {};

TEST_P(DefenderTest, LeavesTheKeyAsExpectedAndNothingElseChanges) {
  ExpectRepairLeaves(GetParam(), kRepair);
}

INSTANTIATE_TEST_SUITE_P(Planted, DefenderTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TaskTest, DefenderWithNoKeysIsNoError) {
  const SystemState before = State();
  funciones_.ReactivarDefender();
  EXPECT_EQ(State(), before);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

}  // namespace
}  // namespace sorbantilex
