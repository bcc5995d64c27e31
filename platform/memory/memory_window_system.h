#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/menu.h"
#include "app/window_system.h"

namespace sorbantilex {

/// Raised by `MemoryWindowSystem::EndProgram` so that a test sees the program
/// end. It is not a `Failure`: the runner's trap lets it through.
struct ProgramEnded {
  EndReason reason;
};

/// One thing the user does: tick or untick a box, double-click a frame,
/// type into the dialog, press its buttons or close it, activate or close
/// the main window, or press "Unlock!".
struct UserStep {
  enum class Kind {
    kTick,
    kUntick,
    kFrameDoubleClick,
    kTypeStartPage,
    kPressOk,
    kPressCancel,
    kCloseDialog,
    kActivateMain,
    kCloseMain,
    kClickUnlock,
  };
  Kind kind;
  CheckArray array = CheckArray::kPolicies;
  int index = 0;
  std::string text{};

  static UserStep Tick(CheckArray array, int index) { return {Kind::kTick, array, index, {}}; }
  static UserStep Untick(CheckArray array, int index) { return {Kind::kUntick, array, index, {}}; }
  static UserStep FrameDoubleClick(CheckArray array) {
    return {Kind::kFrameDoubleClick, array, 0, {}};
  }
  static UserStep TypeStartPage(std::string text) {
    return {Kind::kTypeStartPage, {}, 0, std::move(text)};
  }
  static UserStep PressOk() { return {Kind::kPressOk}; }
  static UserStep PressCancel() { return {Kind::kPressCancel}; }
  static UserStep CloseDialog() { return {Kind::kCloseDialog}; }
  static UserStep ActivateMain() { return {Kind::kActivateMain}; }
  static UserStep CloseMain() { return {Kind::kCloseMain}; }
  static UserStep ClickUnlock() { return {Kind::kClickUnlock}; }
};

/// A window system for tests. It keeps the controls' state as a front end
/// would (starting from the layout tables), records what the program shows,
/// and plays a script of what the user does at the coming yields.
///
/// Everything observable goes into one journal, in order: "yield",
/// "show IniRem", "hide IniRem", "topmost IniRem", "message <title>",
/// "end <reason>"; tests may add their own entries (the tasks that ran).
class MemoryWindowSystem final : public WindowSystem {
 public:
  /// `menu_layout`: the main window as the front end under test draws it
  /// (`Menu::OfflineLayout()` for the offline ones).
  explicit MemoryWindowSystem(const WindowLayout& menu_layout = Menu::Layout());

  /// The window whose handlers the user's steps call.
  void Attach(Menu& menu) { menu_ = &menu; }
  /// Starts the program as a front end does: the load handler, then the
  /// main window is shown and activated.
  void Launch();
  /// Does one step now.
  void Perform(const UserStep& step);
  /// What the user does during the next yield not yet scripted. Yields
  /// beyond the script do nothing, except that a yield while the dialog
  /// waits with the script used up is a mistake of the test (logic_error).
  void OnYield(std::vector<UserStep> steps) { script_.push_back(std::move(steps)); }

  struct Message {
    std::string text;
    std::string title;
    friend bool operator==(const Message&, const Message&) = default;
  };
  struct WindowPosCall {
    WindowHandle window;
    WindowHandle insert_after;
    int x, y, width, height;
    std::uint32_t flags;
    friend bool operator==(const WindowPosCall&, const WindowPosCall&) = default;
  };

  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<WindowPosCall>& window_pos_calls() const { return window_pos_calls_; }
  const std::vector<std::string>& journal() const { return journal_; }
  void Note(std::string entry) { journal_.push_back(std::move(entry)); }
  std::optional<EndReason> ended() const { return ended_; }
  std::string Title(WindowId window) const;
  bool CheckEnabled(CheckArray array, int index) const;
  std::size_t yields() const { return yields_; }

  // WindowSystem
  void ShowMessage(std::string_view text, std::string_view title = {}) override;
  void YieldToMessages() override;
  [[noreturn]] void EndProgram(EndReason reason) override;
  bool PreviousInstance() override { return previous_instance_; }
  void ShowWindow(WindowId window) override;
  void HideWindow(WindowId window) override;
  bool Visible(WindowId window) override;
  WindowHandle Handle(WindowId window) override;
  void SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int width,
                    int height, std::uint32_t flags) override;
  void SetTitle(WindowId window, std::string_view title) override;
  int CheckState(CheckArray array, int index) override;
  void SetCheckState(CheckArray array, int index, int state) override;
  void SetCheckEnabled(CheckArray array, int index, bool enabled) override;
  int UpperBound(CheckArray array) override;
  std::string TextBoxText(WindowId window, std::string_view name) override;

  /// Tests: another instance is running.
  void SetPreviousInstance(bool running) { previous_instance_ = running; }

 private:
  struct Box {
    int state = 0;
    bool enabled = true;
  };
  struct Window {
    bool visible = false;
    std::string title;
  };

  Box& BoxAt(CheckArray array, int index);
  Window& WindowOf(WindowId window) { return windows_[static_cast<int>(window)]; }
  Menu& menu();

  Menu* menu_ = nullptr;
  std::map<CheckArray, std::vector<Box>> boxes_;
  std::map<std::string, std::string, std::less<>> texts_;  // text boxes by name
  Window windows_[2];
  bool previous_instance_ = false;
  std::deque<std::vector<UserStep>> script_;
  std::vector<Message> messages_;
  std::vector<WindowPosCall> window_pos_calls_;
  std::vector<std::string> journal_;
  std::optional<EndReason> ended_;
  std::size_t yields_ = 0;
};

}  // namespace sorbantilex
