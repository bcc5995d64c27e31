#include "ui/cli/cli_window_system.h"

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "platform/offline/commit.h"
#include "registry/failure.h"
#include "ui/cli/terminal.h"

namespace sorbantilex::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
// A signal closes the main window; during the commit, it stops the commit
// before any file is replaced.
extern "C" void OnInterrupt(int) {
  interrupted = 1;
  offline::StopCommits();
}

}  // namespace

CliWindowSystem::CliWindowSystem(std::string start_page, bool lock_held)
    : start_page_(std::move(start_page)), lock_held_(lock_held) {
  for (const Control& control : Menu::OfflineLayout().controls) {
    if (control.kind != ControlKind::kCheckBox) continue;
    for (const auto array : Menu::Arrays(/*offline=*/true)) {
      if (control.name == ArrayName(array)) {
        auto& boxes = boxes_[static_cast<int>(array)];
        if (static_cast<int>(boxes.size()) <= control.index) boxes.resize(control.index + 1);
        boxes[control.index] = {control.initial_state, control.enabled};
      }
    }
  }
}

void CliWindowSystem::ShowMessage(std::string_view text, std::string_view title) {
  if (checkpoint) checkpoint();
  std::cout << "[" << Terminal(title.empty() ? std::string_view("Sorbantilex") : title) << "] "
            << Terminal(text) << "\n";
  std::cout.flush();
}

void CliWindowSystem::YieldToMessages() {
  if (checkpoint) checkpoint();
  if (interrupted && menu_ != nullptr) {
    std::cout << "Interrumpido: se cierra la ventana principal.\n";
    menu_->OnUnload();
  }
  if (dialog_visible_ && !dialog_answered_ && menu_ != nullptr) {
    dialog_answered_ = true;
    if (on_dialog) on_dialog(start_page_);
    menu_->iniRem().OnOkClick();
  }
}

void CliWindowSystem::EndProgram(EndReason reason) { throw ProgramEnd{reason}; }

void CliWindowSystem::ShowWindow(WindowId window) {
  if (window == WindowId::kIniRem) {
    dialog_visible_ = true;
    dialog_answered_ = false;
  }
}

void CliWindowSystem::HideWindow(WindowId window) {
  if (window == WindowId::kIniRem) dialog_visible_ = false;
}

bool CliWindowSystem::Visible(WindowId window) {
  return window == WindowId::kIniRem ? dialog_visible_ : true;
}

int CliWindowSystem::UpperBound(CheckArray array) {
  return static_cast<int>(boxes_[static_cast<int>(array)].size()) - 1;
}

CliWindowSystem::CheckBox& CliWindowSystem::Box(CheckArray array, int index) {
  auto& boxes = boxes_[static_cast<int>(array)];
  if (index < 0 || index >= static_cast<int>(boxes.size())) {
    throw Failure(9, "Subíndice fuera del intervalo");
  }
  return boxes[index];
}

void CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

}  // namespace sorbantilex::cli
