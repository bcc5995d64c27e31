#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/menu.h"
#include "app/window_system.h"

namespace sorbantilex::cli {

/// Raised by `CliWindowSystem::EndProgram`: the program ends for `reason`.
/// It passes through the task runner, which catches only `Failure`, to the
/// command line's main function, which then writes and reports the run.
struct ProgramEnd {
  EndReason reason;
};

/// The window system of the command line: the boxes' states live here
/// (starting from the offline front ends' layout of the main window), the home-page dialog is
/// answered with the page the options give, and messages go to standard
/// output. An interrupt (see `CatchInterrupts`) closes the main window at
/// the next yield.
class CliWindowSystem final : public WindowSystem {
 public:
  /// `lock_held`: this instance holds the installation (else it reports a
  /// previous instance).
  CliWindowSystem(std::string start_page, bool lock_held);

  void set_menu(Menu* menu) { menu_ = menu; }
  /// Called with the page just before the dialog is answered.
  std::function<void(std::string_view)> on_dialog;
  /// Called before every message and at every yield; may raise to stop a
  /// run that must not go on.
  std::function<void()> checkpoint;

  void ShowMessage(std::string_view text, std::string_view title) override;
  void YieldToMessages() override;
  /// Raises `ProgramEnd`.
  [[noreturn]] void EndProgram(EndReason reason) override;
  bool PreviousInstance() override { return !lock_held_; }
  void ShowWindow(WindowId window) override;
  void HideWindow(WindowId window) override;
  bool Visible(WindowId window) override;
  WindowHandle Handle(WindowId window) override { return window == WindowId::kIniRem ? 2 : 1; }
  void SetWindowPos(WindowHandle, WindowHandle, int, int, int, int, std::uint32_t) override {}
  void SetTitle(WindowId, std::string_view) override {}
  int CheckState(CheckArray array, int index) override { return Box(array, index).state; }
  void SetCheckState(CheckArray array, int index, int state) override {
    Box(array, index).state = state;
  }
  void SetCheckEnabled(CheckArray array, int index, bool enabled) override {
    Box(array, index).enabled = enabled;
  }
  int UpperBound(CheckArray array) override;
  std::string TextBoxText(WindowId, std::string_view) override { return start_page_; }

 private:
  struct CheckBox {
    int state = 0;
    bool enabled = true;
  };
  /// Raises `Failure` 9 for a box that does not exist.
  CheckBox& Box(CheckArray array, int index);

  std::array<std::vector<CheckBox>, 4> boxes_;  // by CheckArray
  std::string start_page_;
  bool lock_held_;
  Menu* menu_ = nullptr;
  bool dialog_visible_ = false;
  bool dialog_answered_ = false;
};

/// From now on SIGINT and SIGTERM close the main window at the next yield,
/// so that the changes made so far are still written and reported.
void CatchInterrupts();

}  // namespace sorbantilex::cli
