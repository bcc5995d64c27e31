#include "ui/qt/qt_window_system.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "app/menu.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kApplicationTitle = "Sorbantilex";
constexpr WindowHandle kMenuHandle = 1;
constexpr WindowHandle kDialogHandle = 2;
constexpr WindowHandle kHwndNotopmost = -2;
// While the dialog waits for the user, a yield with nothing pending waits
// this long for the next event instead of returning at once, so that the
// wait does not keep a processor busy.
constexpr int kIdleWaitMs = 10;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

double LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

// Counts the nested event loops a handler's exception must not cross.
class NestedLoop {
 public:
  explicit NestedLoop(int& depth) : depth_(depth) { ++depth_; }
  ~NestedLoop() { --depth_; }
  NestedLoop(const NestedLoop&) = delete;
  NestedLoop& operator=(const NestedLoop&) = delete;

 private:
  int& depth_;
};

}  // namespace

QtWindowSystem::QtWindowSystem(Options options)
    : options_(std::move(options)),
      menu_window_(std::make_unique<FormWindow>(Menu::OfflineLayout(), LogicalDpi())),
      dialog_window_(std::make_unique<FormWindow>(IniRem::Layout(), LogicalDpi())),
      wake_(std::make_unique<QTimer>()) {
  wake_->setSingleShot(true);
}

QtWindowSystem::~QtWindowSystem() = default;

void QtWindowSystem::Attach(Menu& menu) {
  menu_ = &menu;
  menu_window_->SetEvents({
      .click =
          [this](std::string_view button) {
            if (button == "cmdUnlock") Guarded([this] { menu_->OnUnlockClick(); });
          },
      .frame_double_click =
          [this](std::string_view frame) {
            const auto array = Menu::ArrayOfFrame(frame);
            if (array) Guarded([this, array] { menu_->OnFrameDoubleClick(*array); });
          },
      .activate = [this] { Guarded([this] { menu_->OnActivate(); }); },
      .close =
          [this] {
            Guarded([this] { menu_->OnUnload(); });
            return false;
          },
  });
  dialog_window_->SetEvents({
      .click =
          [this](std::string_view button) {
            if (button == "cmdOk") Guarded([this] { menu_->iniRem().OnOkClick(); });
            if (button == "cmdCancel") Guarded([this] { menu_->iniRem().OnCancelClick(); });
          },
      .frame_double_click = {},
      .activate = {},
      .close =
          [this] {
            Guarded([this] { menu_->iniRem().OnClose(); });
            return true;
          },
  });
}

void QtWindowSystem::Launch() {
  // Only EndProgram ends the program, never the last window going away.
  QApplication::setQuitOnLastWindowClosed(false);
  Guarded([this] { menu_->OnLoad(); });
  ShowWindow(WindowId::kMenu);
}

FormWindow& QtWindowSystem::Window(WindowId window) {
  return window == WindowId::kMenu ? *menu_window_ : *dialog_window_;
}

void QtWindowSystem::Guarded(const std::function<void()>& handler) noexcept {
  if (ending_ || menu_ == nullptr) return;
  try {
    handler();
  } catch (...) {
    if (yield_depth_ > 0) {
      if (!pending_) pending_ = std::current_exception();
    } else {
      Report(std::current_exception());
    }
  }
}

void QtWindowSystem::Report(std::exception_ptr failure) noexcept {
  std::string text;
  try {
    std::rethrow_exception(failure);
  } catch (const Failure& f) {
    text = std::to_string(f.number()) + "\n" + f.description();
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "?";
  }
  std::fprintf(stderr, "sorbantilex: %s\n", text.c_str());
  try {
    ShowMessage(text, "Error");
  } catch (...) {
  }
}

void QtWindowSystem::ShowMessage(std::string_view text, std::string_view title) {
  QString body = FromUtf8(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::NoIcon, FromUtf8(title.empty() ? kApplicationTitle : title), body,
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  {
    NestedLoop loop(yield_depth_);
    box.exec();
  }
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

void QtWindowSystem::YieldToMessages() {
  {
    NestedLoop loop(yield_depth_);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!pending_ && dialog_window_->isVisible()) {
      wake_->start(kIdleWaitMs);
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      wake_->stop();
    }
  }
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

void QtWindowSystem::EndProgram(EndReason reason) {
  int code = reason == EndReason::kFinished || reason == EndReason::kClosed ? 0 : 1;
  if (!ending_) {
    ending_ = true;
    if (options_.on_end) {
      try {
        code = options_.on_end(reason);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "sorbantilex: %s\n", e.what());
        code = 1;
      } catch (...) {
        code = 1;
      }
    }
  }
  dialog_window_->hide();
  menu_window_->hide();
  std::fflush(nullptr);
  // At once: no handler, event loop or destructor runs after this point.
  std::_Exit(code);
}

bool QtWindowSystem::PreviousInstance() {
  if (options_.instance_lock.isEmpty()) return false;
  if (!instance_lock_) {
    instance_lock_ = std::make_unique<QLockFile>(options_.instance_lock);
    instance_lock_->setStaleLockTime(0);
  }
  // A lock left by a process that no longer runs is taken over.
  return !instance_lock_->isLocked() && !instance_lock_->tryLock(0);
}

void QtWindowSystem::ShowWindow(WindowId window) { Window(window).ShowInFront(); }

void QtWindowSystem::HideWindow(WindowId window) { Window(window).hide(); }

bool QtWindowSystem::Visible(WindowId window) { return Window(window).isVisible(); }

WindowHandle QtWindowSystem::Handle(WindowId window) {
  return window == WindowId::kMenu ? kMenuHandle : kDialogHandle;
}

FormWindow* QtWindowSystem::WindowOfHandle(WindowHandle handle) {
  if (handle == kMenuHandle) return menu_window_.get();
  if (handle == kDialogHandle) return dialog_window_.get();
  return nullptr;
}

void QtWindowSystem::SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y,
                                  int width, int height, std::uint32_t flags) {
  FormWindow* target = WindowOfHandle(window);
  if (target == nullptr) return;
  if (insert_after == kHwndTopmost || insert_after == kHwndNotopmost) {
    const bool on_top = insert_after == kHwndTopmost;
    if (target->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != on_top) {
      const bool was_visible = target->isVisible();
      target->setWindowFlag(Qt::WindowStaysOnTopHint, on_top);  // hides the window
      if (was_visible) target->show();
    }
  }
  if ((flags & kSwpNoMove) == 0) target->move(x, y);
  if ((flags & kSwpNoSize) == 0) target->setFixedSize(width, height);
  if (target->isVisible()) target->raise();
}

void QtWindowSystem::SetTitle(WindowId window, std::string_view title) {
  Window(window).setWindowTitle(FromUtf8(title));
}

QCheckBox& QtWindowSystem::BoxAt(CheckArray array, int index) {
  QCheckBox* box = menu_window_->Box(array, index);
  if (box == nullptr) {
    throw Failure(340, "No existe el elemento " + std::to_string(index) +
                           " de la matriz de "
                           "controles " +
                           std::string(ArrayName(array)));
  }
  return *box;
}

int QtWindowSystem::CheckState(CheckArray array, int index) {
  switch (BoxAt(array, index).checkState()) {
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
    case Qt::Unchecked:
      break;
  }
  return 0;
}

void QtWindowSystem::SetCheckState(CheckArray array, int index, int state) {
  QCheckBox& box = BoxAt(array, index);
  if (state == 0)
    box.setCheckState(Qt::Unchecked);
  else if (state == 1)
    box.setCheckState(Qt::Checked);
  else
    box.setCheckState(Qt::PartiallyChecked);
}

void QtWindowSystem::SetCheckEnabled(CheckArray array, int index, bool enabled) {
  BoxAt(array, index).setEnabled(enabled);
}

int QtWindowSystem::UpperBound(CheckArray array) { return menu_window_->UpperBound(array); }

std::string QtWindowSystem::TextBoxText(WindowId window, std::string_view name) {
  const QLineEdit* text = Window(window).TextBox(name);
  if (text == nullptr) return {};
  return text->text().toStdString();
}

}  // namespace sorbantilex
