#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "app/ini_rem.h"
#include "app/layout.h"
#include "app/task_catalog.h"
#include "app/window_system.h"
#include "registry/registry_api.h"
#include "registry/token.h"
#include "tasks/funciones.h"
#include "tasks/system_info.h"

namespace sorbantilex {

/// What the main window needs of the platform it runs on.
struct MenuPlatform {
  WindowSystem& ui;
  Funciones& funciones;
  Token& token;
  SystemInfo& system;
  RegistryApi& registry;  // for the home-page dialog
  /// Set by the offline front ends (the command line, the desktop window),
  /// which draw `Menu::OfflineLayout()`: the runner then also takes the
  /// steps of the fourth frame. The Windows program leaves it unset, draws
  /// `Menu::Layout()` and never reaches those steps.
  bool offline = false;
};

/// What a front end hears of the task runner: each ticked step (a repair or
/// the home-page dialog) as it starts and once it has finished. Either may
/// be empty. A step that fails does not finish.
struct StepHooks {
  std::function<void(const Step&)> started;
  std::function<void(const Step&)> finished;
};

/// The main window: its layout, the start-up checks and the task runner,
/// which takes the boxes and repairs of the task catalogue
/// (`app/task_catalog.h`) in order. It owns the home-page dialog `IniRem`.
///
/// Holds no control state of its own: the front end keeps the boxes' states
/// and enabled flags (starting from the layout table) and the windows'
/// visibility, and calls the handlers below. Every handler may end the
/// program through `WindowSystem::EndProgram`.
class Menu {
 public:
  explicit Menu(MenuPlatform platform);
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  /// The window's layout: client size, icon and controls. Its title is set
  /// by `OnLoad`. This is the Windows program's window, three frames.
  static const WindowLayout& Layout();
  static std::span<const Control> Controls() { return Layout().controls; }
  /// The window the offline front ends draw: `Layout()` with a fourth frame
  /// ("frmModern", the `kModern` boxes) under the other three, the button
  /// and the window's bottom moved down to make room for it.
  static const WindowLayout& OfflineLayout();
  /// The arrays of the window, in the runner's order: three for the
  /// Windows program, four offline.
  static std::span<const CheckArray> Arrays(bool offline);
  /// The array a frame ("frmPolicies", "frmFixes", "frmInternet",
  /// "frmModern") holds.
  static std::optional<CheckArray> ArrayOfFrame(std::string_view frame);

  IniRem& iniRem() { return iniRem_; }
  void set_step_hooks(StepHooks hooks) { hooks_ = std::move(hooks); }

  /// Start-up checks, before the window is shown: refuses a second instance
  /// and a system whose "OS" is not "Windows_NT" (message, then the program
  /// ends); enables the debug privilege; enables the System Restore box on
  /// version 5.1 only; sets the title "Sorbantilex 1.9.2".
  void OnLoad();
  /// The main window became active: brings the dialog to the front again
  /// while it is visible.
  void OnActivate();
  /// "Unlock!": the task runner. With nothing ticked it shows a message and
  /// returns; otherwise it runs the ticked tasks in their fixed order, shows
  /// the final message and ends the program. A failure ends the program
  /// after the error message. A click while a run is in progress is ignored.
  void OnUnlockClick();
  /// Double-click of the frame of `array`: ticks every box in it, disabled
  /// ones included.
  void OnFrameDoubleClick(CheckArray array);
  /// Runs a step that has just finished once more, as it ran (a front end
  /// does so for each further profile): its repair, or the home-page
  /// dialog's answer applied again without showing the dialog.
  void RepeatStep(const Step& step);
  /// The main window was closed: ends the program at once.
  [[noreturn]] void OnUnload();

 private:
  [[noreturn]] void End(EndReason reason);
  void RunTasks();
  void ShowStartPageDialog();

  MenuPlatform platform_;
  IniRem iniRem_;
  StepHooks hooks_;
  bool running_ = false;
};

}  // namespace sorbantilex
