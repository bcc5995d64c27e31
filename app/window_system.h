#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/layout.h"
#include "tasks/window_services.h"

namespace sorbantilex {

/// Why the program ends; a command line maps it to its exit code, an offline
/// platform decides from it whether to commit its changes.
enum class EndReason {
  kFinished,  // the run ended after the final message
  kFailed,    // the run's error trap showed its message
  kRefused,   // a start-up check refused to run
  kClosed,    // the main window was closed
};

/// A native window handle (an HWND on Windows), or any number a front end
/// chooses; 0 is no window.
using WindowHandle = std::intptr_t;

inline constexpr WindowHandle kHwndTopmost = -1;
inline constexpr std::uint32_t kSwpNoSize = 0x0001;
inline constexpr std::uint32_t kSwpNoMove = 0x0002;

/// Everything the windows `Menu` and `IniRem` need of the window system.
/// Each front end implements it once; it holds the live state of the
/// controls (check states, enabled flags, text) and forwards the user's
/// events to `Menu` and `IniRem`. Every call comes from the one
/// user-interface thread; a yield may run any handler in full before it
/// returns.
class WindowSystem : public WindowServices {
 public:
  /// Closes every window and exits the process at once; nothing after the
  /// call runs.
  [[noreturn]] virtual void EndProgram(EndReason reason) = 0;
  /// True when another instance of this program is already running.
  virtual bool PreviousInstance() = 0;

  /// Shows the window non-modal and without owner and brings it to the
  /// front; returns at once.
  virtual void ShowWindow(WindowId window) = 0;
  /// Hides the window; its controls keep their values.
  virtual void HideWindow(WindowId window) = 0;
  /// True while the window is shown; false once hidden or closed through its
  /// frame.
  virtual bool Visible(WindowId window) = 0;
  virtual WindowHandle Handle(WindowId window) = 0;
  /// SetWindowPos of user32; the result is not read.
  virtual void SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int width,
                            int height, std::uint32_t flags) = 0;
  virtual void SetTitle(WindowId window, std::string_view title) = 0;

  /// State of a box of the main window's arrays: 0 unticked, 1 ticked.
  virtual int CheckState(CheckArray array, int index) = 0;
  virtual void SetCheckState(CheckArray array, int index, int state) = 0;
  /// A disabled box cannot be ticked by the user but keeps any state the
  /// program sets.
  virtual void SetCheckEnabled(CheckArray array, int index, bool enabled) = 0;
  /// Highest index of the array.
  virtual int UpperBound(CheckArray array) = 0;

  /// The current text of a text box, exactly as typed.
  virtual std::string TextBoxText(WindowId window, std::string_view name) = 0;
};

}  // namespace sorbantilex
