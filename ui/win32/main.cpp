// Sorbantilex.exe: the live program on the running Windows.

#include <windows.h>

#include <exception>

#include "app/menu.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_system_info.h"
#include "platform/win32/win32_token.h"
#include "platform/win32/win32_wmi.h"
#include "tasks/funciones.h"
#include "ui/win32/win32_window_system.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace sorbantilex;
  try {
    Win32Wmi wmi;  // first: the thread joins its COM apartment
    Win32Registry registry;
    Win32Token token;
    Win32SystemInfo system;
    Win32Files files;
    Win32WindowSystem ui(instance);
    Funciones funciones(TaskPlatform{registry, system, files, wmi, ui});
    Menu menu(MenuPlatform{ui, funciones, token, system, registry});
    ui.Run(menu);
  } catch (const std::exception& error) {
    ::MessageBoxA(nullptr, error.what(), "Sorbantilex", MB_OK);
    return 1;
  }
}
