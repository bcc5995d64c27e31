#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
constexpr std::string_view kGroupPolicyCopy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\Software\\"
    "Microsoft\\Windows\\CurrentVersion\\Policies\\";

struct PolicyCase {
  Repair repair;
  std::string_view key;
};

const PolicyCase kCases[] = {
    {{"Sistema", &Funciones::EliminarRestriccionesSistema}, "System"},
    {{"Explorador", &Funciones::EliminarRestriccionesExplorador}, "Explorer"},
    {{"ActiveDesktop", &Funciones::EliminarRestriccionesActiveDesktop}, "ActiveDesktop"},
    {{"AgregarQuitar", &Funciones::EliminarRestriccionesAgregarQuitar}, "Uninstall"},
};

class PolicyTest : public TaskTest, public ::testing::WithParamInterface<PolicyCase> {};

// Each repair removes its key whole, with values and subkeys, under both
// roots and in the group-policy copy under both roots; the other policies
// stay.
TEST_P(PolicyTest, RemovesItsKeyEverywhereAndNothingElse) {
  const std::string key(GetParam().key);
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const std::string_view base : {kPolicies, kGroupPolicyCopy}) {
      for (const PolicyCase& other : kCases) {
        const std::string path = std::string(base).append(other.key);
        Put(root, path, "DisableTaskMgr", kRegDword, Dword(1));
        Put(root, path + "\\Sub\\Deeper", "x", kRegSz, Text("y"));
      }
    }
  }
  const SystemState before = State();

  (funciones_.*GetParam().repair.run)();

  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const std::string_view base : {kPolicies, kGroupPolicyCopy}) {
      EXPECT_FALSE(At(root, std::string(base) + key)) << root << " " << base;
    }
  }
  // Only the four keys went: put them back and the state is the old one.
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const std::string_view base : {kPolicies, kGroupPolicyCopy}) {
      Put(root, std::string(base) + key, "DisableTaskMgr", kRegDword, Dword(1));
      Put(root, std::string(base) + key + "\\Sub\\Deeper", "x", kRegSz, Text("y"));
    }
  }
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(ui_.events().empty());
}

TEST_P(PolicyTest, NothingToRemoveIsNoError) {
  const SystemState before = State();
  (funciones_.*GetParam().repair.run)();
  EXPECT_EQ(State(), before);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Policies, PolicyTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.repair.name); });

}  // namespace
}  // namespace sorbantilex
