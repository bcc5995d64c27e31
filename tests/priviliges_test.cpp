// Enabling and disabling a privilege in the own process token.

#include "registry/priviliges.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory/memory_token.h"

namespace sorbantilex {
namespace {

/// Records message boxes only.
class Messages final : public MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view title) override {
    EXPECT_TRUE(title.empty()) << "the privilege messages bear the application title";
    shown.emplace_back(text);
  }
  std::vector<std::string> shown;
};

struct Case {
  std::string_view name;
  std::vector<std::string> held;
  std::string_view privilege;
  std::uint32_t open_error = 0;
  bool result = true;
  std::vector<std::string> messages{};
  std::vector<std::string> calls{};
};

const Case kCases[] = {
    {.name = "Held",
     .held = {"SeDebugPrivilege"},
     .privilege = "SeDebugPrivilege",
     .calls = {"GetCurrentProcess", "OpenProcessToken", "LookupPrivilegeValue",
               "AdjustTokenPrivileges", "CloseHandle"}},
    {.name = "NotHeld",
     .held = {"SeShutdownPrivilege"},
     .privilege = "SeDebugPrivilege",
     .result = false,
     .messages = {"AdjustTokenPrivileges failed with error code 1300"},
     .calls = {"GetCurrentProcess", "OpenProcessToken", "LookupPrivilegeValue",
               "AdjustTokenPrivileges", "CloseHandle"}},
    {.name = "UnknownName",
     .held = {"SeDebugPrivilege"},
     .privilege = "SeFlyingPrivilege",
     .result = false,
     .messages = {"LookupPrivilegeValue failed with error code 1313"},
     .calls = {"GetCurrentProcess", "OpenProcessToken", "LookupPrivilegeValue", "CloseHandle"}},
    {.name = "TokenRefused",
     .held = {"SeDebugPrivilege"},
     .privilege = "SeDebugPrivilege",
     .open_error = 5,
     .result = false,
     .messages = {"OpenProcessToken failed with error code 5"},
     .calls = {"GetCurrentProcess", "OpenProcessToken"}},
};

class PrivilegeTest : public ::testing::TestWithParam<Case> {};

TEST_P(PrivilegeTest, SetsThePrivilegeOrNamesTheFailingCall) {
  const Case& c = GetParam();
  MemoryToken token(c.held);
  token.FailOpen(c.open_error);
  Messages ui;

  const bool result = HabilitarPrivilegio(token, ui, c.privilege);

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(ui.shown, c.messages);
  EXPECT_EQ(token.calls(), c.calls);
  EXPECT_EQ(token.OpenHandles(), 0u);
  EXPECT_EQ(token.Enabled(c.privilege), c.result);
}

INSTANTIATE_TEST_SUITE_P(Priviliges, PrivilegeTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Priviliges, DisablingAnEnabledPrivilegeClearsIt) {
  MemoryToken token({"SeDebugPrivilege"});
  Messages ui;
  ASSERT_TRUE(HabilitarPrivilegio(token, ui, "SeDebugPrivilege"));
  ASSERT_TRUE(token.Enabled("SeDebugPrivilege"));
  EXPECT_TRUE(AjustarPrivilegio(token, ui, "SeDebugPrivilege", false));
  EXPECT_FALSE(token.Enabled("SeDebugPrivilege"));
}

}  // namespace
}  // namespace sorbantilex
