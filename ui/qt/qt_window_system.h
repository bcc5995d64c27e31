#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QString>

#include "app/window_system.h"
#include "ui/qt/form_window.h"

class QLockFile;
class QTimer;

namespace sorbantilex {

class Menu;

/// The window system of the Qt desktop front end. It draws `Menu` and
/// `IniRem` from their layout tables, keeps the live state of their
/// controls, and forwards every user event to their handlers. It decides
/// nothing itself.
///
/// A handler's exception never crosses Qt's event loop: one raised while the
/// program yields is carried out of the yield and raised again there, in the
/// handler that yielded; one raised elsewhere is shown in a message box.
/// Needs a QApplication.
class QtWindowSystem final : public WindowSystem {
 public:
  struct Options {
    /// Runs when the program ends, before the process exits with the code it
    /// returns: the place to commit the changes made (or drop them). It may
    /// show messages through this window system.
    std::function<int(EndReason)> on_end;
    /// The lock file that tells a previous instance; empty for no test.
    QString instance_lock;
  };

  explicit QtWindowSystem(Options options);
  ~QtWindowSystem() override;

  /// Connects the windows' events to the handlers of `menu` and its dialog.
  void Attach(Menu& menu);
  /// Starts the program: the load handler of the main window (which may end
  /// the program), then the main window is shown centred and activated.
  void Launch();

  FormWindow& Window(WindowId window);

  // WindowSystem
  void ShowMessage(std::string_view text, std::string_view title = {}) override;
  void YieldToMessages() override;
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

 private:
  /// Runs a handler; keeps its exception from reaching Qt.
  void Guarded(const std::function<void()>& handler) noexcept;
  void Report(std::exception_ptr failure) noexcept;
  QCheckBox& BoxAt(CheckArray array, int index);
  FormWindow* WindowOfHandle(WindowHandle handle);

  Options options_;
  std::unique_ptr<FormWindow> menu_window_;
  std::unique_ptr<FormWindow> dialog_window_;
  std::unique_ptr<QTimer> wake_;
  std::unique_ptr<QLockFile> instance_lock_;
  Menu* menu_ = nullptr;
  int yield_depth_ = 0;
  std::exception_ptr pending_;
  bool ending_ = false;
};

}  // namespace sorbantilex
