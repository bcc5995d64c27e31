#include "platform/memory/memory_window_system.h"

#include <stdexcept>

#include "app/ini_rem.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

constexpr std::string_view WindowName(WindowId window) {
  return window == WindowId::kMenu ? "Menu" : "IniRem";
}

constexpr std::string_view ReasonName(EndReason reason) {
  switch (reason) {
    case EndReason::kFinished:
      return "finished";
    case EndReason::kFailed:
      return "failed";
    case EndReason::kRefused:
      return "refused";
    case EndReason::kClosed:
      return "closed";
  }
  return "?";
}

// What the window system raises for an index outside a control array.
constexpr std::int32_t kNoSuchElement = 340;

}  // namespace

MemoryWindowSystem::MemoryWindowSystem(const WindowLayout& menu_layout) {
  for (const WindowLayout* layout : {&menu_layout, &IniRem::Layout()}) {
    WindowOf(layout->id).title = std::string(layout->title);
    for (const Control& control : layout->controls) {
      if (control.kind == ControlKind::kTextBox) {
        texts_[std::string(control.name)] = std::string(control.caption);
      }
      if (control.kind != ControlKind::kCheckBox) continue;
      for (CheckArray array : Menu::Arrays(/*offline=*/true)) {
        if (ArrayName(array) != control.name) continue;
        auto& boxes = boxes_[array];
        if (boxes.size() <= static_cast<std::size_t>(control.index))
          boxes.resize(control.index + 1);
        boxes[control.index] = Box{control.initial_state, control.enabled};
      }
    }
  }
}

Menu& MemoryWindowSystem::menu() {
  if (menu_ == nullptr) throw std::logic_error("no window attached to the window system");
  return *menu_;
}

void MemoryWindowSystem::Launch() {
  menu().OnLoad();
  ShowWindow(WindowId::kMenu);
  menu().OnActivate();
}

void MemoryWindowSystem::Perform(const UserStep& step) {
  using Kind = UserStep::Kind;
  switch (step.kind) {
    case Kind::kTick:
    case Kind::kUntick: {
      Box& box = BoxAt(step.array, step.index);
      if (box.enabled) box.state = step.kind == Kind::kTick ? 1 : 0;
      return;
    }
    case Kind::kFrameDoubleClick:
      menu().OnFrameDoubleClick(step.array);
      return;
    case Kind::kTypeStartPage:
      texts_["txtURL"] = step.text;
      return;
    case Kind::kPressOk:
    case Kind::kPressCancel:
    case Kind::kCloseDialog:
      if (!WindowOf(WindowId::kIniRem).visible) {
        throw std::logic_error("the script uses the dialog while it is hidden");
      }
      if (step.kind == Kind::kPressOk) {
        menu().iniRem().OnOkClick();
      } else if (step.kind == Kind::kPressCancel) {
        menu().iniRem().OnCancelClick();
      } else {
        WindowOf(WindowId::kIniRem).visible = false;
        menu().iniRem().OnClose();
      }
      return;
    case Kind::kActivateMain:
      menu().OnActivate();
      return;
    case Kind::kCloseMain:
      menu().OnUnload();
    case Kind::kClickUnlock:
      menu().OnUnlockClick();
      return;
  }
}

void MemoryWindowSystem::ShowMessage(std::string_view text, std::string_view title) {
  messages_.push_back({std::string(text), std::string(title)});
  journal_.push_back("message " + std::string(title.empty() ? "Sorbantilex" : title));
}

void MemoryWindowSystem::YieldToMessages() {
  ++yields_;
  journal_.emplace_back("yield");
  if (script_.empty()) {
    if (WindowOf(WindowId::kIniRem).visible) {
      throw std::logic_error("the dialog waits but the script has nothing more");
    }
    return;
  }
  const std::vector<UserStep> steps = std::move(script_.front());
  script_.pop_front();
  for (const UserStep& step : steps) Perform(step);
}

void MemoryWindowSystem::EndProgram(EndReason reason) {
  ended_ = reason;
  for (Window& window : windows_) window.visible = false;
  journal_.push_back("end " + std::string(ReasonName(reason)));
  throw ProgramEnded{reason};
}

void MemoryWindowSystem::ShowWindow(WindowId window) {
  WindowOf(window).visible = true;
  journal_.push_back("show " + std::string(WindowName(window)));
}

void MemoryWindowSystem::HideWindow(WindowId window) {
  WindowOf(window).visible = false;
  journal_.push_back("hide " + std::string(WindowName(window)));
}

bool MemoryWindowSystem::Visible(WindowId window) { return WindowOf(window).visible; }

WindowHandle MemoryWindowSystem::Handle(WindowId window) {
  return window == WindowId::kMenu ? 0x1000 : 0x2000;
}

void MemoryWindowSystem::SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y,
                                      int width, int height, std::uint32_t flags) {
  window_pos_calls_.push_back({window, insert_after, x, y, width, height, flags});
  if (insert_after == kHwndTopmost) {
    journal_.push_back(window == Handle(WindowId::kIniRem) ? "topmost IniRem" : "topmost Menu");
  }
}

void MemoryWindowSystem::SetTitle(WindowId window, std::string_view title) {
  WindowOf(window).title = std::string(title);
}

std::string MemoryWindowSystem::Title(WindowId window) const {
  return windows_[static_cast<int>(window)].title;
}

MemoryWindowSystem::Box& MemoryWindowSystem::BoxAt(CheckArray array, int index) {
  auto& boxes = boxes_[array];
  if (index < 0 || static_cast<std::size_t>(index) >= boxes.size()) {
    throw Failure(kNoSuchElement, "El elemento de la matriz de controles no existe");
  }
  return boxes[index];
}

int MemoryWindowSystem::CheckState(CheckArray array, int index) {
  return BoxAt(array, index).state;
}

void MemoryWindowSystem::SetCheckState(CheckArray array, int index, int state) {
  BoxAt(array, index).state = state;
}

void MemoryWindowSystem::SetCheckEnabled(CheckArray array, int index, bool enabled) {
  BoxAt(array, index).enabled = enabled;
}

bool MemoryWindowSystem::CheckEnabled(CheckArray array, int index) const {
  return boxes_.at(array).at(index).enabled;
}

int MemoryWindowSystem::UpperBound(CheckArray array) {
  return static_cast<int>(boxes_[array].size()) - 1;
}

std::string MemoryWindowSystem::TextBoxText(WindowId, std::string_view name) {
  const auto text = texts_.find(name);
  return text == texts_.end() ? std::string() : text->second;
}

}  // namespace sorbantilex
