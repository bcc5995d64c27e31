// Sorbantilex.exe: the live program on the running Windows.

#include <windows.h>

#include <exception>

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

// The windows of the program; when the program ends, however it ends, the
// part of the run that took place is written down as an undo file (beside
// the program, else in the temporary folder). The windows say nothing of
// it: where it cannot be written, the run stands as it is.
class Program final : public Win32WindowSystem {
 public:
  Program(HINSTANCE instance, const Journal& undo)
      : Win32WindowSystem(instance), undo_(undo) {}

 protected:
  [[noreturn]] void Exit(int exit_code) override {
    try {
      if (!undo_.empty()) WriteUndoFile(undo_.UndoFile());
    } catch (...) {
      // No undo file; the program ends all the same.
    }
    Win32WindowSystem::Exit(exit_code);
  }

 private:
  const Journal& undo_;
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
    Funciones funciones(TaskPlatform{registry, system, files, wmi, ui});
    Menu menu(MenuPlatform{ui, funciones, token, system, registry});
    ui.Run(menu);
  } catch (const std::exception& error) {
    ::MessageBoxA(nullptr, error.what(), "Sorbantilex", MB_OK);
    return 1;
  }
}
