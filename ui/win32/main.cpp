// Sorbantilex.exe: the live program on the running Windows.

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/menu.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_system_info.h"
#include "platform/win32/win32_token.h"
#include "platform/win32/win32_undo_file.h"
#include "platform/win32/win32_wmi.h"
#include "registry/journal.h"
#include "tasks/funciones.h"
#include "ui/win32/win32_window_system.h"

namespace sorbantilex {
namespace {

// The windows of the program. The part of the run that took place is
// written down as an undo file (beside the program, else in the temporary
// folder) whenever the program may end without a further word from it:
// before any message is shown (the final "Finalizado", an error), when the
// session ends, and when the program ends. It is one file for the run,
// written again only when the run has changed more since. The windows say
// nothing of it: where it cannot be written, the run stands as it is.
class Program final : public Win32WindowSystem {
 public:
  Program(HINSTANCE instance, const Journal& undo) : Win32WindowSystem(instance), undo_(undo) {}

  void SaveUndo() noexcept {
    try {
      if (undo_.empty()) return;
      std::vector<std::uint8_t> content = undo_.UndoFile();
      if (content == written_) return;
      if (path_.empty()) {
        path_ = WriteUndoFile(content);
        if (path_.empty()) return;
      } else if (!RewriteUndoFile(path_, content)) {
        return;
      }
      written_ = std::move(content);
    } catch (...) {
      // No undo file, or the one written before; the program goes on.
    }
  }

  void ShowMessage(std::string_view text, std::string_view title = {}) override {
    SaveUndo();
    Win32WindowSystem::ShowMessage(text, title);
  }

 protected:
  [[noreturn]] void Exit(int exit_code) override {
    SaveUndo();
    Win32WindowSystem::Exit(exit_code);
  }
  void OnEndSession() override { SaveUndo(); }

 private:
  const Journal& undo_;
  std::wstring path_;                  // the run's undo file, once written
  std::vector<std::uint8_t> written_;  // what it holds
};

}  // namespace
}  // namespace sorbantilex

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace sorbantilex;
  try {
    Win32Wmi wmi;  // first: the thread joins its COM apartment
    Win32Registry live;
    Journal registry(live);
    Win32Token token;
    Win32SystemInfo system;
    Win32Files files;
    Program ui(instance, registry);
    try {
      Funciones funciones(TaskPlatform{registry, system, files, wmi, ui});
      Menu menu(MenuPlatform{ui, funciones, token, system, registry});
      ui.Run(menu);
    } catch (...) {
      ui.SaveUndo();  // before the message below, which the user may never close
      throw;
    }
  } catch (const std::exception& error) {
    ::MessageBoxA(nullptr, error.what(), "Sorbantilex", MB_OK);
    return 1;
  }
}
