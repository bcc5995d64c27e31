// The main window: start-up checks, the task runner and its dispatch table,
// the frame double-click, activation and closing.

#include "app/menu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app_fixture.h"

namespace sorbantilex {
namespace {

using testing::App;
using Message = MemoryWindowSystem::Message;
constexpr auto kPolicies = CheckArray::kPolicies;
constexpr auto kFixes = CheckArray::kFixes;
constexpr auto kInternet = CheckArray::kInternet;

constexpr std::string_view kFinished =
    "Sorbantilex ha finalizado las tareas seleccionadas. Reinicie el equipo para que los "
    "cambios surtan efectos. Recuerde que para que el programa funcione satisfactoriamente, el "
    "sistema debe estar libre de malwares.";

/// The journal entries of the tasks that ran, in order.
std::vector<std::string> TasksRun(const MemoryWindowSystem& ui) {
  std::vector<std::string> tasks;
  for (const std::string& entry : ui.journal()) {
    if (entry.starts_with("task ")) tasks.push_back(entry.substr(5));
  }
  return tasks;
}

// --- Start-up --------------------------------------------------------------

struct StartupCase {
  std::string_view name;
  bool previous_instance = false;
  std::optional<std::string> os = "Windows_NT";
  std::uint32_t major = 5;
  std::uint32_t minor = 1;
  bool version_fails = false;
  // The system's real version, when a compatibility mode makes the one above
  // differ from it.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> real_version{};
  std::string_view refusal{};  // empty: the window opens
  bool restore_box_enabled = false;
};

constexpr std::string_view kIncompatible =
    "Sistema operativo incompatible. Sorbantilex 1.9 solo funciona en Windows_NT";

const StartupCase kStartupCases[] = {
    {.name = "SecondInstance",
     .previous_instance = true,
     .refusal = "Sorbantilex ya se encuentra ejecutando."},
    {.name = "OsInOtherCase", .os = "windows_nt", .refusal = kIncompatible},
    {.name = "OsAbsent", .os = std::nullopt, .refusal = kIncompatible},
    {.name = "OsOther", .os = "Windows_95", .refusal = kIncompatible},
    {.name = "WindowsXp", .major = 5, .minor = 1, .restore_box_enabled = true},
    {.name = "Windows2000", .major = 5, .minor = 0},
    {.name = "Server2003", .major = 5, .minor = 2},
    {.name = "Vista", .major = 6, .minor = 0},
    {.name = "Windows7", .major = 6, .minor = 1},
    {.name = "Windows10", .major = 10, .minor = 0},
    {.name = "Windows10InXpCompatibilityMode",
     .major = 5,
     .minor = 1,
     .real_version = std::pair{10u, 0u},
     .restore_box_enabled = true},
    {.name = "VersionQueryFails", .version_fails = true},
};

class StartupTest : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartupTest, RefusesOrOpensWithTitleAndRestoreBox) {
  const StartupCase& c = GetParam();
  App app;
  app.ui.SetPreviousInstance(c.previous_instance);
  app.system.SetEnvironment("OS", c.os);
  if (c.version_fails) {
    app.system.SetVersion(std::nullopt);
  } else {
    app.system.SetVersion(std::pair{c.major, c.minor});
  }
  if (c.real_version) app.system.SetRealVersion(c.real_version);

  const auto ended = app.Launch();

  if (!c.refusal.empty()) {
    EXPECT_EQ(ended, EndReason::kRefused);
    EXPECT_EQ(app.ui.messages(), (std::vector<Message>{{std::string(c.refusal), ""}}));
    EXPECT_EQ(std::count(app.ui.journal().begin(), app.ui.journal().end(), "show Menu"), 0);
    EXPECT_TRUE(app.token.calls().empty());
    EXPECT_EQ(app.ui.Title(WindowId::kMenu), "");
    return;
  }
  EXPECT_EQ(ended, std::nullopt);
  EXPECT_TRUE(app.ui.messages().empty());
  EXPECT_TRUE(app.ui.Visible(WindowId::kMenu));
  EXPECT_EQ(app.ui.Title(WindowId::kMenu), "Sorbantilex 1.9.2");
  EXPECT_EQ(app.ui.CheckEnabled(kFixes, 5), c.restore_box_enabled);
  EXPECT_TRUE(app.token.Enabled("SeDebugPrivilege"));
}

INSTANTIATE_TEST_SUITE_P(Menu, StartupTest, ::testing::ValuesIn(kStartupCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MenuStartup, PrivilegeNotHeldShowsItsMessageAndStartUpGoesOn) {
  App app;
  app.token.Hold("SeDebugPrivilege", false);
  EXPECT_EQ(app.Launch(), std::nullopt);
  EXPECT_EQ(app.ui.messages(),
            (std::vector<Message>{{"AdjustTokenPrivileges failed with error code 1300", ""}}));
  EXPECT_EQ(app.ui.Title(WindowId::kMenu), "Sorbantilex 1.9.2");
  EXPECT_TRUE(app.ui.CheckEnabled(kFixes, 5));
}

// --- Runner ----------------------------------------------------------------

TEST(MenuRunner, NothingTickedShowsMessageAndTheWindowStays) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);

  EXPECT_EQ(app.ClickUnlock(), std::nullopt);
  EXPECT_EQ(
      app.ui.messages(),
      (std::vector<Message>{{"Seleccione como mínimo una tarea a realizar.", "Sorbantilex"}}));
  EXPECT_TRUE(TasksRun(app.ui).empty());
  EXPECT_EQ(app.ui.yields(), 0u);
  EXPECT_TRUE(app.ui.Visible(WindowId::kMenu));

  // The user may tick a box and press the button again.
  app.ui.Perform(UserStep::Tick(kPolicies, 0));
  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);
  EXPECT_EQ(TasksRun(app.ui), std::vector<std::string>{"EliminarRestriccionesSistema"});
}

struct DispatchCase {
  CheckArray array;
  int index;
  std::string_view task;  // empty: the home-page dialog
};

const DispatchCase kCatalogue[] = {
    {kPolicies, 0, "EliminarRestriccionesSistema"},
    {kPolicies, 1, "EliminarRestriccionesExplorador"},
    {kPolicies, 2, "EliminarRestriccionesActiveDesktop"},
    {kPolicies, 3, "EliminarRestriccionesAgregarQuitar"},
    {kFixes, 0, "RepararArchivosOcultos"},
    {kFixes, 1, "RepararModoSeguro"},
    {kFixes, 2, "RestaurarUserinit"},
    {kFixes, 3, "RestaurarShell"},
    {kFixes, 4, "ReactivarSFC"},
    {kFixes, 5, "RepararRestaurarSistema"},
    {kInternet, 0, ""},
    {kInternet, 1, "EliminarSitiosConfianza"},
    {kInternet, 2, "EliminarSitiosRestringidos"},
    {kInternet, 3, "EliminarVentanasPermitidas"},
    {kInternet, 4, "RestaurarHosts"},
};

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, ABoxAloneRunsExactlyItsTask) {
  const DispatchCase& c = GetParam();
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(c.array, c.index));
  app.ui.OnYield({});
  app.ui.OnYield({});
  if (c.task.empty()) app.ui.OnYield({UserStep::PressCancel()});

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);

  const std::vector<std::string> expected =
      c.task.empty() ? std::vector<std::string>{} : std::vector<std::string>{std::string(c.task)};
  EXPECT_EQ(TasksRun(app.ui), expected);
  const auto& journal = app.ui.journal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "show IniRem"), c.task.empty() ? 1 : 0);
  EXPECT_EQ(app.ui.messages(), (std::vector<Message>{{std::string(kFinished), "Finalizado"}}));
}

INSTANTIATE_TEST_SUITE_P(Menu, DispatchTest, ::testing::ValuesIn(kCatalogue), [](const auto& info) {
  return std::string(ArrayName(info.param.array)) + std::to_string(info.param.index);
});

TEST(MenuRunner, EveryBoxTickedRunsInTableOrderWithItsYieldsAndDialog) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  for (CheckArray array : {kPolicies, kFixes, kInternet}) {
    app.ui.Perform(UserStep::FrameDoubleClick(array));
  }
  app.ui.OnYield({});  // after the policies
  app.ui.OnYield({});  // after the repairs
  // The dialog stays open across two yields: the runner waits for it.
  app.ui.OnYield({UserStep::TypeStartPage("http://inicio.example/")});
  app.ui.OnYield({UserStep::PressCancel()});
  const std::size_t before = app.ui.journal().size();

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);

  const std::vector<std::string> run(app.ui.journal().begin() + before, app.ui.journal().end());
  EXPECT_EQ(run, (std::vector<std::string>{
                     "task EliminarRestriccionesSistema",
                     "task EliminarRestriccionesExplorador",
                     "task EliminarRestriccionesActiveDesktop",
                     "task EliminarRestriccionesAgregarQuitar",
                     "yield",
                     "task RepararArchivosOcultos",
                     "task RepararModoSeguro",
                     "task RestaurarUserinit",
                     "task RestaurarShell",
                     "task ReactivarSFC",
                     "task RepararRestaurarSistema",
                     "yield",
                     "show IniRem",
                     "topmost IniRem",
                     "yield",
                     "yield",
                     "hide IniRem",
                     "yield",
                     "task EliminarSitiosConfianza",
                     "task EliminarSitiosRestringidos",
                     "task EliminarVentanasPermitidas",
                     "task RestaurarHosts",
                     "message Finalizado",
                     "yield",
                     "end finished",
                 }));
  EXPECT_EQ(app.ui.window_pos_calls(), (std::vector<MemoryWindowSystem::WindowPosCall>{
                                           {app.ui.Handle(WindowId::kIniRem), -1, 0, 0, 0, 0, 3}}));
}

// The offline front ends' runner takes the fourth frame last, after a
// yield of its own; the three frames before it run as on Windows.
TEST(MenuRunner, OfflineTheFourthFrameRunsLastAfterItsOwnYield) {
  App app(/*offline=*/true);
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(kInternet, 4));
  app.ui.Perform(UserStep::FrameDoubleClick(CheckArray::kModern));
  const std::size_t before = app.ui.journal().size();

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);

  const std::vector<std::string> run(app.ui.journal().begin() + before, app.ui.journal().end());
  EXPECT_EQ(run, (std::vector<std::string>{
                     "yield",
                     "yield",
                     "yield",
                     "task RestaurarHosts",
                     "yield",
                     "task QuitarDepuradores",
                     "task ReactivarDefender",
                     "task QuitarDirectivasNavegadores",
                     "task QuitarProxy",
                     "message Finalizado",
                     "yield",
                     "end finished",
                 }));
}

// Ticked alone, a box of the fourth frame is counted: the run is no
// "nothing ticked".
TEST(MenuRunner, OfflineABoxOfTheFourthFrameAloneRuns) {
  App app(/*offline=*/true);
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(CheckArray::kModern, 3));
  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);
  EXPECT_EQ(TasksRun(app.ui), std::vector<std::string>{"QuitarProxy"});
}

TEST(MenuRunner, EachBoxIsReadWhenItsStepComes) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(kPolicies, 0));
  app.ui.Perform(UserStep::Tick(kInternet, 1));
  app.ui.Perform(UserStep::Tick(kInternet, 2));
  // At the first yield: untick a counted box, tick one not yet reached.
  app.ui.OnYield({UserStep::Untick(kInternet, 1), UserStep::Tick(kFixes, 0)});

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);
  EXPECT_EQ(TasksRun(app.ui),
            (std::vector<std::string>{"EliminarRestriccionesSistema", "RepararArchivosOcultos",
                                      "EliminarSitiosRestringidos"}));
}

TEST(MenuRunner, DisabledRestoreBoxTickedByFrameDoubleClickRuns) {
  App app;
  app.system.SetVersion(std::pair{6u, 1u});
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(kPolicies, 0));
  app.ui.Perform(UserStep::Tick(kFixes, 5));  // a disabled box cannot be ticked by clicking
  EXPECT_EQ(app.ui.CheckState(kFixes, 5), 0);
  app.ui.OnYield({UserStep::FrameDoubleClick(kFixes)});

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);
  EXPECT_EQ(TasksRun(app.ui),
            (std::vector<std::string>{"EliminarRestriccionesSistema", "RepararArchivosOcultos",
                                      "RepararModoSeguro", "RestaurarUserinit", "RestaurarShell",
                                      "ReactivarSFC", "RepararRestaurarSistema"}));
  EXPECT_FALSE(app.ui.CheckEnabled(kFixes, 5));
}

TEST(MenuRunner, FrameDoubleClickTicksOnlyItsOwnFrame) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::FrameDoubleClick(kInternet));
  app.ui.Perform(UserStep::FrameDoubleClick(kInternet));  // already ticked: no change
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(app.ui.CheckState(kPolicies, i), 0);
  for (int i = 0; i <= 5; ++i) EXPECT_EQ(app.ui.CheckState(kFixes, i), 0);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(app.ui.CheckState(kInternet, i), 1);
}

TEST(MenuRunner, FailingTaskShowsTheErrorSkipsTheRestAndEnds) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::FrameDoubleClick(kPolicies));
  app.ui.Perform(UserStep::Tick(kInternet, 4));
  app.funciones.failing = "EliminarRestriccionesExplorador";
  app.funciones.failure = Failure(-2147217406, "No se encontró el objeto");

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFailed);
  EXPECT_EQ(TasksRun(app.ui), std::vector<std::string>{"EliminarRestriccionesSistema"});
  EXPECT_EQ(app.ui.messages(),
            (std::vector<Message>{{"Sorbantilex recibió el error -2147217406\r\n"
                                   "No se encontró el objeto\r\n"
                                   "Asegúrese que el sistema está libre de malwares.",
                                   "Error"}}));
}

TEST(MenuRunner, ClosingTheMainWindowDuringTheDialogEndsAtOnce) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(kInternet, 0));
  app.ui.Perform(UserStep::Tick(kInternet, 1));
  app.ui.OnYield({});
  app.ui.OnYield({});
  app.ui.OnYield({UserStep::CloseMain()});

  EXPECT_EQ(app.ClickUnlock(), EndReason::kClosed);
  EXPECT_TRUE(TasksRun(app.ui).empty());
  EXPECT_TRUE(app.ui.messages().empty());
  EXPECT_FALSE(app.ui.Visible(WindowId::kIniRem));
}

TEST(MenuRunner, UnlockPressedAgainDuringARunIsIgnored) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::Tick(kPolicies, 0));
  app.ui.Perform(UserStep::Tick(kFixes, 0));
  app.ui.OnYield({UserStep::ClickUnlock()});

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);
  EXPECT_EQ(TasksRun(app.ui),
            (std::vector<std::string>{"EliminarRestriccionesSistema", "RepararArchivosOcultos"}));
  EXPECT_EQ(app.ui.messages().size(), 1u);
}

TEST(MenuRunner, ActivatingTheMainWindowRaisesTheVisibleDialog) {
  App app;
  ASSERT_EQ(app.Launch(), std::nullopt);
  app.ui.Perform(UserStep::ActivateMain());  // dialog hidden: nothing to raise
  app.ui.Perform(UserStep::Tick(kInternet, 0));
  app.ui.OnYield({});
  app.ui.OnYield({});
  app.ui.OnYield({UserStep::ActivateMain()});
  app.ui.OnYield({UserStep::PressCancel()});

  EXPECT_EQ(app.ClickUnlock(), EndReason::kFinished);
  const auto& journal = app.ui.journal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "show IniRem"), 2);
}

TEST(MenuWindow, LayoutHoldsTheCatalogueInItsFrames) {
  // Every box of the dispatch catalogue sits in its array's frame, exactly once.
  for (const DispatchCase& c : kCatalogue) {
    const auto controls = Menu::Controls();
    const auto count = std::count_if(controls.begin(), controls.end(), [&](const Control& k) {
      return k.kind == ControlKind::kCheckBox && k.name == ArrayName(c.array) &&
             k.index == c.index && Menu::ArrayOfFrame(k.parent) == c.array;
    });
    EXPECT_EQ(count, 1) << ArrayName(c.array) << " " << c.index;
  }
}

// The offline window is the Windows program's, every control where it was,
// with the fourth frame below the other three and the button below it.
TEST(MenuWindow, OfflineLayoutAddsTheFourthFrameBelowTheOthers) {
  const WindowLayout& windows = Menu::Layout();
  const WindowLayout& offline = Menu::OfflineLayout();
  const auto find = [](const WindowLayout& layout, std::string_view name, int index = -1) {
    const auto it = std::ranges::find_if(
        layout.controls, [&](const Control& c) { return c.name == name && c.index == index; });
    return it == layout.controls.end() ? nullptr : &*it;
  };
  EXPECT_EQ(find(windows, "frmModern"), nullptr);
  EXPECT_EQ(find(windows, "checkModern", 0), nullptr);
  EXPECT_EQ(offline.client_width, windows.client_width);
  for (const Control& control : windows.controls) {
    const Control* same = find(offline, control.name, control.index);
    ASSERT_NE(same, nullptr) << control.name;
    EXPECT_EQ(same->caption, control.caption);
    if (control.name != "cmdUnlock") {
      EXPECT_EQ(same->rect.top, control.rect.top) << control.name;
    }
  }

  const Control* internet = find(offline, "frmInternet");
  const Control* modern = find(offline, "frmModern");
  const Control* unlock = find(offline, "cmdUnlock");
  ASSERT_NE(modern, nullptr);
  EXPECT_EQ(modern->caption, "Windows Vista a 11");
  EXPECT_EQ(modern->tooltip, internet->tooltip);
  EXPECT_GT(modern->rect.top, internet->rect.top + internet->rect.height);
  EXPECT_GT(unlock->rect.top, modern->rect.top + modern->rect.height);
  EXPECT_GE(offline.client_height, unlock->rect.top + unlock->rect.height);
  EXPECT_EQ(Menu::ArrayOfFrame("frmModern"), CheckArray::kModern);
  for (int index = 0; index <= 3; ++index) {
    const Control* box = find(offline, "checkModern", index);
    ASSERT_NE(box, nullptr) << index;
    EXPECT_EQ(box->parent, "frmModern");
    EXPECT_LE(box->rect.top + box->rect.height, modern->rect.height);
  }
  EXPECT_EQ(find(offline, "checkModern", 4), nullptr);
}

}  // namespace
}  // namespace sorbantilex
