#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/window_system.h"
#include "platform/win32/unique_handles.h"

namespace sorbantilex {

class Menu;

/// The native Windows front end: draws both windows from their layout
/// tables, keeps the live state of their controls, forwards the user's
/// events to `Menu` and `IniRem`, and provides the window-system services.
///
/// Layout: twips become pixels at the monitor's dpi (15 twips a pixel at
/// 96 dpi), and are laid out again when the window moves to a monitor of
/// another dpi. Frames are group boxes that take double-clicks; the boxes of
/// a frame are its siblings, above it. Both windows open centred on the screen of
/// their monitor (not on its work area).
///
/// No exception leaves a window procedure: one that reaches it is shown in a
/// message box and ends the program.
class Win32WindowSystem : public WindowSystem {
 public:
  explicit Win32WindowSystem(HINSTANCE instance);
  ~Win32WindowSystem() override;

  /// Creates both windows (hidden), runs the load handler, shows the main
  /// window with the focus on the first control of the tab order, and
  /// dispatches messages until the program ends.
  [[noreturn]] void Run(Menu& menu);

  // WindowServices
  void ShowMessage(std::string_view text, std::string_view title = {}) override;
  void YieldToMessages() override;

  // WindowSystem
  [[noreturn]] void EndProgram(EndReason reason) override;
  bool PreviousInstance() override;
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

  /// The native window of a control ("cmdUnlock", or an array's name with
  /// the box's index); null when there is none. For tests and tools.
  HWND ControlWindow(WindowId window, std::string_view name, int index = -1) const;
  HWND NativeWindow(WindowId window) const;

 protected:
  /// Leaves the program once every window is gone. The program exits the
  /// process; a test that runs the windows on a thread of its own ends that
  /// thread instead.
  [[noreturn]] virtual void Exit(int exit_code);
  /// The session ends (logoff, restart, shutdown; WM_ENDSESSION): the system
  /// may end the process at any moment after this returns, without `Exit`.
  /// Called once for each of the two windows.
  virtual void OnEndSession() {}

 private:
  struct ControlWindowInfo {
    const Control* control = nullptr;
    HWND hwnd = nullptr;
  };
  struct Window {
    Win32WindowSystem* owner = nullptr;
    const WindowLayout* layout = nullptr;
    HWND hwnd = nullptr;
    UINT dpi = 96;
    std::vector<ControlWindowInfo> controls;
    std::map<std::pair<int, int>, HFONT> fonts;  // (size in pixels, weight)
    HWND tooltip = nullptr;
    std::vector<std::wstring> tooltip_texts;
    HWND focus = nullptr;  // the control that had the focus when the window was left
    HICON big_icon = nullptr;
    HICON small_icon = nullptr;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Dispatch(Window& window, UINT message, WPARAM wparam, LPARAM lparam);

  void CreateWindowFor(Window& window, const WindowLayout& layout);
  void LayOut(Window& window, const RECT* suggested);
  HFONT FontFor(Window& window, const Font& font);
  void FreeFonts(Window& window);
  int Pixels(const Window& window, int twips) const;
  Window& WindowOf(WindowId id) { return id == WindowId::kMenu ? menu_window_ : dialog_window_; }
  const Window& WindowOf(WindowId id) const {
    return id == WindowId::kMenu ? menu_window_ : dialog_window_;
  }
  HWND Box(CheckArray array, int index) const;
  void OnCommand(Window& window, int id);
  void FocusFirstControl(Window& window);
  void OnFrameDoubleClick(HWND frame);
  template <class Handler>
  void Guarded(Handler handler);

  HINSTANCE instance_;
  Menu* menu_ = nullptr;
  Window menu_window_;
  Window dialog_window_;
  win32::UniqueHandle instance_mutex_;
  bool instance_checked_ = false;
  bool previous_instance_ = false;
};

}  // namespace sorbantilex
