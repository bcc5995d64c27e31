#pragma once

// Shared set-up for the tests of the main window, the runner and the
// home-page dialog: the in-memory platform and a task module that records
// which tasks ran (or fails in a chosen one).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/menu.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_system_info.h"
#include "platform/memory/memory_token.h"
#include "platform/memory/memory_window_system.h"
#include "platform/memory/memory_wmi.h"
#include "registry/failure.h"
#include "tasks/funciones.h"

namespace sorbantilex::testing {

/// Notes each task in the window system's journal as "task <name>"; the task
/// named in `failing` raises `failure` instead.
class RecordingFunciones final : public Funciones {
 public:
  RecordingFunciones(TaskPlatform platform, MemoryWindowSystem& journal)
      : Funciones(platform), journal_(journal) {}

  std::string failing;
  Failure failure{0, {}};

#define SORBANTILEX_RECORD(name) \
  void name() override { Run(#name); }
  SORBANTILEX_RECORD(EliminarRestriccionesSistema)
  SORBANTILEX_RECORD(EliminarRestriccionesExplorador)
  SORBANTILEX_RECORD(EliminarRestriccionesActiveDesktop)
  SORBANTILEX_RECORD(EliminarRestriccionesAgregarQuitar)
  SORBANTILEX_RECORD(RepararArchivosOcultos)
  SORBANTILEX_RECORD(RepararRestaurarSistema)
  SORBANTILEX_RECORD(RestaurarShell)
  SORBANTILEX_RECORD(RestaurarUserinit)
  SORBANTILEX_RECORD(ReactivarSFC)
  SORBANTILEX_RECORD(RepararModoSeguro)
  SORBANTILEX_RECORD(EliminarSitiosConfianza)
  SORBANTILEX_RECORD(EliminarSitiosRestringidos)
  SORBANTILEX_RECORD(EliminarVentanasPermitidas)
  SORBANTILEX_RECORD(RestaurarHosts)
  SORBANTILEX_RECORD(QuitarDepuradores)
  SORBANTILEX_RECORD(ReactivarDefender)
  SORBANTILEX_RECORD(QuitarDirectivasNavegadores)
  SORBANTILEX_RECORD(QuitarProxy)
#undef SORBANTILEX_RECORD

 private:
  void Run(std::string_view name) {
    if (name == failing) throw failure;
    journal_.Note("task " + std::string(name));
  }
  MemoryWindowSystem& journal_;
};

/// The whole application on the in-memory platform, with recording tasks:
/// the Windows program's window, or with `offline` the offline front ends'.
struct App {
  explicit App(bool offline = false)
      : ui(offline ? Menu::OfflineLayout() : Menu::Layout()),
        menu{MenuPlatform{ui, funciones, token, system, registry, offline}} {
    ui.Attach(menu);
  }

  MemoryWindowSystem ui;
  MemoryRegistry registry;
  MemoryToken token{{"SeDebugPrivilege"}};
  MemorySystemInfo system;  // Windows XP, "OS" set to "Windows_NT"
  MemoryFiles files;
  MemoryWmi wmi{registry};
  RecordingFunciones funciones{TaskPlatform{registry, system, files, wmi, ui}, ui};
  Menu menu;

  /// Runs the handler and returns why the program ended, or nullopt when it
  /// returned.
  template <typename Handler>
  std::optional<EndReason> Until(Handler handler) {
    try {
      handler();
    } catch (const ProgramEnded& ended) {
      return ended.reason;
    }
    return std::nullopt;
  }
  std::optional<EndReason> ClickUnlock() {
    return Until([&] { menu.OnUnlockClick(); });
  }
  std::optional<EndReason> Launch() {
    return Until([&] { ui.Launch(); });
  }
};

}  // namespace sorbantilex::testing
