// The whole program on the in-memory platform, from start to end, with the
// real repairs.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/menu.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_system_info.h"
#include "platform/memory/memory_token.h"
#include "platform/memory/memory_window_system.h"
#include "platform/memory/memory_wmi.h"
#include "tasks/funciones.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kSystemPolicy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr std::string_view kHosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";
constexpr std::string_view kMain = "Software\\Microsoft\\Internet Explorer\\Main";

struct Program {
  MemoryWindowSystem ui;
  MemoryRegistry registry;
  MemoryToken token{{"SeDebugPrivilege"}};
  MemorySystemInfo system;
  MemoryFiles files;
  MemoryWmi wmi{registry};
  Funciones funciones{TaskPlatform{registry, system, files, wmi, ui}};
  Menu menu{MenuPlatform{ui, funciones, token, system, registry}};

  Program() {
    ui.Attach(menu);
    // A machine whose task manager is locked and whose hosts file is hijacked.
    for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
      KeyRef key = kNullKey;
      registry.CreateKey(root, kSystemPolicy, 0, kRegistroAccess, &key, nullptr);
      const std::uint8_t one[] = {1, 0, 0, 0};
      registry.SetValue(key, "DisableTaskMgr", kRegDword, one);
      registry.CloseKey(key);
    }
    KeyRef main = kNullKey;
    registry.CreateKey(kHkeyCurrentUser, kMain, 0, kRegistroAccess, &main, nullptr);
    registry.CloseKey(main);
    files.AddFile(kHosts, "127.0.0.1 localhost\r\n1.2.3.4 www.bank.example\r\n");
  }

  /// Starts the program, ticks the boxes, presses "Unlock!" and returns why
  /// the program ended.
  std::optional<EndReason> Run(std::vector<UserStep> ticks) {
    try {
      ui.Launch();
      for (const UserStep& tick : ticks) ui.Perform(tick);
      menu.OnUnlockClick();
    } catch (const ProgramEnded& ended) {
      return ended.reason;
    }
    return std::nullopt;
  }
};

TEST(Program, RunsTheTickedRepairsAndEnds) {
  Program program;
  program.ui.OnYield({});
  program.ui.OnYield({});
  program.ui.OnYield({UserStep::TypeStartPage("about:home"), UserStep::PressOk()});

  EXPECT_EQ(program.Run({UserStep::Tick(CheckArray::kPolicies, 0),
                         UserStep::Tick(CheckArray::kInternet, 0),
                         UserStep::Tick(CheckArray::kInternet, 4)}),
            EndReason::kFinished);

  EXPECT_EQ(program.ui.Title(WindowId::kMenu), "Sorbantilex 1.9.2");
  EXPECT_TRUE(program.token.Enabled("SeDebugPrivilege"));
  EXPECT_EQ(program.registry.Snapshot(kHkeyLocalMachine, kSystemPolicy), std::nullopt);
  EXPECT_EQ(program.registry.Snapshot(kHkeyCurrentUser, kSystemPolicy), std::nullopt);
  const auto main = program.registry.Snapshot(kHkeyCurrentUser, kMain);
  ASSERT_TRUE(main);
  EXPECT_EQ(main->values,
            (std::vector<KeySnapshot::Value>{
                {"Start Page", kRegSz, {'a', 'b', 'o', 'u', 't', ':', 'h', 'o', 'm', 'e'}}}));
  EXPECT_EQ(program.files.Content(kHosts), "127.0.0.1 localhost\r\n");
  ASSERT_EQ(program.ui.messages().size(), 1u);
  EXPECT_EQ(program.ui.messages()[0].title, "Finalizado");
  EXPECT_EQ(program.registry.OpenHandles(), 0u);
  EXPECT_EQ(program.token.OpenHandles(), 0u);
}

TEST(Program, AFailingRepairEndsWithTheErrorAndKeepsEarlierChanges) {
  Program program;
  program.files.Lock(kHosts);

  EXPECT_EQ(program.Run({UserStep::Tick(CheckArray::kPolicies, 0),
                         UserStep::Tick(CheckArray::kInternet, 4)}),
            EndReason::kFailed);

  EXPECT_EQ(program.registry.Snapshot(kHkeyLocalMachine, kSystemPolicy), std::nullopt);
  EXPECT_EQ(program.files.Content(kHosts), "127.0.0.1 localhost\r\n1.2.3.4 www.bank.example\r\n");
  ASSERT_EQ(program.ui.messages().size(), 1u);
  const MemoryWindowSystem::Message& error = program.ui.messages()[0];
  EXPECT_EQ(error.title, "Error");
  EXPECT_TRUE(error.text.starts_with("Sorbantilex recibió el error 32\r\n")) << error.text;
  EXPECT_TRUE(error.text.ends_with("\r\nAsegúrese que el sistema está libre de malwares."))
      << error.text;
}

}  // namespace
}  // namespace sorbantilex
