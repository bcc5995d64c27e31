// The home-page dialog, driven through the runner as the user meets it.

#include "app/ini_rem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app_fixture.h"

namespace sorbantilex {
namespace {

using testing::App;

constexpr std::string_view kExplorerPolicy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kExplorerPolicyCopy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\Software\\"
    "Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kControlPanel =
    "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr std::string_view kControlPanelCopy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\Software\\"
    "Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr std::string_view kMain = "Software\\Microsoft\\Internet Explorer\\Main";

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }
const std::vector<std::uint8_t> kOne{1, 0, 0, 0};
const std::vector<std::uint8_t> kZero{0, 0, 0, 0};

void Put(MemoryRegistry& registry, KeyRef root, std::string_view path, std::string_view name,
         std::uint32_t type, const std::vector<std::uint8_t>& data) {
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(root, path, 0, kRegistroAccess, &key, nullptr), kErrorSuccess);
  ASSERT_EQ(registry.SetValue(key, name, type, data), kErrorSuccess);
  registry.CloseKey(key);
}

/// A start page locked every way the dialog lifts, next to values it must
/// leave alone.
void LockStartPage(MemoryRegistry& registry, bool with_control_panel_policy) {
  for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (std::string_view path : {kExplorerPolicy, kExplorerPolicyCopy}) {
      Put(registry, root, path, "NoSaveSettings", kRegDword, kOne);
      Put(registry, root, path, "NoRun", kRegDword, kOne);
    }
    if (with_control_panel_policy) Put(registry, root, kControlPanel, "HomePage", kRegDword, kOne);
    Put(registry, root, std::string(kControlPanelCopy) + "\\Sub", "HomePage", kRegDword, kOne);
  }
  Put(registry, kHkeyCurrentUser, kMain, "Start Page", kRegSz, Bytes("http://malware.example"));
}

std::optional<KeySnapshot::Value> ValueAt(const MemoryRegistry& registry, KeyRef root,
                                          std::string_view path, std::string_view name) {
  const auto key = registry.Snapshot(root, path);
  if (!key) return std::nullopt;
  for (const auto& value : key->values) {
    if (value.name == name) return value;
  }
  return std::nullopt;
}

/// Ticks the start-page box and the box after it, presses "Unlock!" and does
/// `steps` while the dialog waits.
std::optional<EndReason> RunDialog(App& app, std::vector<UserStep> steps) {
  if (app.Launch()) return EndReason::kRefused;
  app.ui.Perform(UserStep::Tick(CheckArray::kInternet, 0));
  app.ui.Perform(UserStep::Tick(CheckArray::kInternet, 1));
  app.ui.OnYield({});
  app.ui.OnYield({});
  app.ui.OnYield(std::move(steps));
  return app.ClickUnlock();
}

struct ApplyCase {
  std::string_view name;
  std::optional<std::string> typed;  // nullopt: the initial text is left
  std::string_view start_page;
};

const ApplyCase kApplyCases[] = {
    {"InitialText", std::nullopt, kInitialStartPage},
    {"Empty", "", "about:blank"},
    {"OnlySpaces", "   ", "   "},
    {"AnyText", " not an address ñ", " not an address ñ"},
};

class ApplyTest : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(ApplyTest, LiftsTheLocksAndWritesTheStartPage) {
  const ApplyCase& c = GetParam();
  App app;
  LockStartPage(app.registry, true);
  std::vector<UserStep> steps;
  if (c.typed) steps.push_back(UserStep::TypeStartPage(*c.typed));
  steps.push_back(UserStep::PressOk());

  EXPECT_EQ(RunDialog(app, steps), EndReason::kFinished);

  for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (std::string_view path : {kExplorerPolicy, kExplorerPolicyCopy}) {
      EXPECT_EQ(ValueAt(app.registry, root, path, "NoSaveSettings"), std::nullopt);
      EXPECT_NE(ValueAt(app.registry, root, path, "NoRun"), std::nullopt);
    }
    EXPECT_EQ(ValueAt(app.registry, root, kControlPanel, "HomePage"),
              (KeySnapshot::Value{"HomePage", kRegDword, kZero}));
    EXPECT_EQ(app.registry.Snapshot(root, kControlPanelCopy), std::nullopt);
    EXPECT_NE(app.registry.Snapshot(root,
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\Group "
                                    "Policy Objects\\LocalUser\\Software\\Policies\\"
                                    "Microsoft\\Internet Explorer"),
              std::nullopt);
  }
  EXPECT_EQ(ValueAt(app.registry, kHkeyCurrentUser, kMain, "Start Page"),
            (KeySnapshot::Value{"Start Page", kRegSz, Bytes(c.start_page)}));
  EXPECT_EQ(app.registry.Snapshot(kHkeyLocalMachine, kMain), std::nullopt);
  EXPECT_FALSE(app.ui.Visible(WindowId::kIniRem));
  EXPECT_EQ(app.registry.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(IniRem, ApplyTest, ::testing::ValuesIn(kApplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IniRem, MissingControlPanelPolicyGetsNoHomePage) {
  App app;
  LockStartPage(app.registry, false);

  EXPECT_EQ(RunDialog(app, {UserStep::TypeStartPage(""), UserStep::PressOk()}),
            EndReason::kFinished);

  for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    EXPECT_EQ(app.registry.Snapshot(root, kControlPanel), std::nullopt);
    EXPECT_EQ(ValueAt(app.registry, root, kExplorerPolicy, "NoSaveSettings"), std::nullopt);
  }
  EXPECT_EQ(ValueAt(app.registry, kHkeyCurrentUser, kMain, "Start Page"),
            (KeySnapshot::Value{"Start Page", kRegSz, Bytes("about:blank")}));
}

struct LeaveCase {
  std::string_view name;
  UserStep step;
};

const LeaveCase kLeaveCases[] = {
    {"Cancelar", UserStep::PressCancel()},
    {"ClosedThroughFrame", UserStep::CloseDialog()},
};

class LeaveTest : public ::testing::TestWithParam<LeaveCase> {};

TEST_P(LeaveTest, WritesNothingAndTheRunGoesOn) {
  App app;
  LockStartPage(app.registry, true);
  const auto machine = app.registry.Snapshot(kHkeyLocalMachine, "");
  const auto user = app.registry.Snapshot(kHkeyCurrentUser, "");

  EXPECT_EQ(RunDialog(app, {UserStep::TypeStartPage(""), GetParam().step}), EndReason::kFinished);

  EXPECT_EQ(app.registry.Snapshot(kHkeyLocalMachine, ""), machine);
  EXPECT_EQ(app.registry.Snapshot(kHkeyCurrentUser, ""), user);
  EXPECT_FALSE(app.ui.Visible(WindowId::kIniRem));
  const auto& journal = app.ui.journal();
  EXPECT_NE(std::find(journal.begin(), journal.end(), "task EliminarSitiosConfianza"),
            journal.end());
}

INSTANTIATE_TEST_SUITE_P(IniRem, LeaveTest, ::testing::ValuesIn(kLeaveCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorbantilex
