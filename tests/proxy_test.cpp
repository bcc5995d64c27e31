#include <gtest/gtest.h>

#include "registry/journal.h"
#include "task_fixture.h"

namespace sorbantilex {
namespace {

const std::string kInternet = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::string kPolicies =
    "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

KeySnapshot::Value Bin(std::string name, Bytes data) { return {std::move(name), kRegBinary, data}; }

const Repair kRepair{"QuitarProxy", &Funciones::QuitarProxy};

const PlantedKey kCases[] = {
    {"ProxyOffAndForgottenOtherSettingsStay",
     kHkeyCurrentUser,
     kInternet,
     {Dw("ProxyEnable", 1), Sz("ProxyServer", "127.0.0.1:8080"),
      Sz("AutoConfigURL", "http://evil.example/proxy.pac"), Sz("ProxyOverride", "<local>"),
      Dw("MigrateProxy", 1)},
     {{Dw("ProxyEnable", 0), Sz("ProxyOverride", "<local>"), Dw("MigrateProxy", 1)}}},
    {"ProxyEnableOfAnotherTypeBecomesADword",
     kHkeyCurrentUser,
     kInternet,
     {Sz("ProxyEnable", "1")},
     {{Dw("ProxyEnable", 0)}}},
    {"ProxyEnableMissingIsWritten",
     kHkeyCurrentUser,
     kInternet,
     {Sz("User Agent", "Mozilla")},
     {{Sz("User Agent", "Mozilla"), Dw("ProxyEnable", 0)}}},
    {"ConnectionsSettingsGoOthersStay",
     kHkeyCurrentUser,
     kInternet + "\\Connections",
     {Bin("DefaultConnectionSettings", {0x46, 0, 0, 0, 3}),
      Bin("SavedLegacySettings", {0x46, 0, 0, 0, 3}), Bin("MiVPN", {0x46, 0, 0, 0, 1})},
     {{Bin("MiVPN", {0x46, 0, 0, 0, 1})}}},
    {"MachinePolicyGoes",
     kHkeyLocalMachine,
     kPolicies,
     {Dw("ProxySettingsPerUser", 0)},
     std::nullopt},
    {"UserPolicyGoes",
     kHkeyCurrentUser,
     kPolicies + "\\Control Panel",
     {Dw("Proxy", 1)},
     std::nullopt},
};

class ProxyTest : public TaskTest, public ::testing::WithParamInterface<PlantedKey> {
 protected:
  // A row below the Internet settings sits in a profile whose proxy is off
  // already, so that the row's key is all the repair changes.
  void SetUp() override {
    if (GetParam().key.starts_with(kInternet + "\\")) {
      Put(kHkeyCurrentUser, kInternet, "ProxyEnable", kRegDword, Dword(0));
    }
  }
};

TEST_P(ProxyTest, LeavesTheKeyAsExpectedAndNothingElseChanges) {
  ExpectRepairLeaves(GetParam(), kRepair);
}

INSTANTIATE_TEST_SUITE_P(Planted, ProxyTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Nothing is created: with no Internet settings, ProxyEnable is not written.
TEST_F(TaskTest, ProxyWithNoInternetSettingsIsNoError) {
  const SystemState before = State();
  funciones_.QuitarProxy();
  EXPECT_EQ(State(), before);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

// A proxy already off is not written again: a clean profile leaves no
// change to report or undo.
TEST_F(TaskTest, ProxyAlreadyOffIsNotWrittenAgain) {
  Put(kHkeyCurrentUser, kInternet, "ProxyEnable", kRegDword, Dword(0));
  Journal recorder(registry_);
  Funciones recorded{{recorder, system_, files_, wmi_, ui_}};
  recorded.QuitarProxy();
  EXPECT_TRUE(recorder.empty());
  EXPECT_EQ(recorder.sections().size(), 0u);
}

}  // namespace
}  // namespace sorbantilex
