#pragma once

// The task catalogue: every box of the main window with the repair it runs,
// in the order the task runner takes them. The one place a box's array,
// index, repair, caption and command-line key are spelled; the window's
// layout, the runner, the command line and the tests all read it here, so
// moving a box moves its caption and its key with it.

#include <array>
#include <cstddef>
#include <string_view>

#include "app/layout.h"
#include "tasks/funciones.h"

namespace sorbantilex {

enum class StepKind {
  kTask,             // runs `task` when the box is ticked
  kYield,            // lets the window system handle pending messages
  kStartPageDialog,  // shows the home-page dialog when the box is ticked
};

/// One step of the task runner. Yields have no box.
struct Step {
  StepKind kind = StepKind::kYield;
  CheckArray array = CheckArray::kPolicies;
  int index = 0;
  /// The box's caption in the main window.
  std::string_view caption{};
  /// The command line's name for the box (--task KEY).
  std::string_view key{};
  /// The repair: the member's name and the member itself; empty for the
  /// dialog.
  std::string_view name{};
  void (Funciones::*task)() = nullptr;
  /// The step changes HKEY_CURRENT_USER: it runs once for each profile the
  /// run works on.
  bool per_user = false;

  constexpr bool HasBox() const { return kind != StepKind::kYield; }
  /// A step of a frame only the offline front ends have; the Windows
  /// program's runner passes over it, yield included.
  constexpr bool OfflineOnly() const { return sorbantilex::OfflineOnly(array); }
};

namespace catalog_detail {

inline constexpr bool kPerUser = true;

constexpr Step Task(CheckArray array, int index, std::string_view caption, std::string_view key,
                    std::string_view name, void (Funciones::*task)(), bool per_user = false) {
  return Step{StepKind::kTask, array, index, caption, key, name, task, per_user};
}
inline constexpr Step kYield{};
// The yield before the fourth frame belongs to that frame, so that the
// Windows program's runner yields exactly where it always has.
inline constexpr Step kModernYield{.kind = StepKind::kYield, .array = CheckArray::kModern};

}  // namespace catalog_detail

inline constexpr std::array kSteps{
    catalog_detail::Task(CheckArray::kPolicies, 0, "Eliminar restricciones del Sistema",
                         "restricciones-sistema", "EliminarRestriccionesSistema",
                         &Funciones::EliminarRestriccionesSistema, catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kPolicies, 1, "Eliminar restricciones del Explorador",
                         "restricciones-explorador", "EliminarRestriccionesExplorador",
                         &Funciones::EliminarRestriccionesExplorador, catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kPolicies, 2, "Eliminar restricciones del ActiveDesktop",
                         "restricciones-activedesktop", "EliminarRestriccionesActiveDesktop",
                         &Funciones::EliminarRestriccionesActiveDesktop, catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kPolicies, 3,
                         "Eliminar restricciones de Agregar/quitar programas",
                         "restricciones-agregarquitar", "EliminarRestriccionesAgregarQuitar",
                         &Funciones::EliminarRestriccionesAgregarQuitar, catalog_detail::kPerUser),
    catalog_detail::kYield,
    catalog_detail::Task(CheckArray::kFixes, 0, "Reparar la visualización de archivos ocultos",
                         "archivos-ocultos", "RepararArchivosOcultos",
                         &Funciones::RepararArchivosOcultos),
    catalog_detail::Task(CheckArray::kFixes, 1, "Reparar el Modo a prueba de fallos", "modo-seguro",
                         "RepararModoSeguro", &Funciones::RepararModoSeguro),
    catalog_detail::Task(CheckArray::kFixes, 2, "Restaurar Userinit del Winlogon (Userinit.exe)",
                         "userinit", "RestaurarUserinit", &Funciones::RestaurarUserinit),
    catalog_detail::Task(CheckArray::kFixes, 3, "Restaurar Shell del Winlogon (Explorer.exe)",
                         "shell", "RestaurarShell", &Funciones::RestaurarShell),
    catalog_detail::Task(CheckArray::kFixes, 4,
                         "Reactivar Comprobador de archivos de Sistema (SFC)", "sfc",
                         "ReactivarSFC", &Funciones::ReactivarSFC),
    catalog_detail::Task(CheckArray::kFixes, 5,
                         "Reparar servicio de Restaurar Sistema (Windows XP)", "restaurar-sistema",
                         "RepararRestaurarSistema", &Funciones::RepararRestaurarSistema,
                         catalog_detail::kPerUser),
    catalog_detail::kYield,
    Step{.kind = StepKind::kStartPageDialog,
         .array = CheckArray::kInternet,
         .index = 0,
         .caption = "Desbloquear página de Inicio (Internet Explorer)",
         .key = "pagina-inicio",
         .per_user = true},
    catalog_detail::kYield,
    catalog_detail::Task(CheckArray::kInternet, 1,
                         "Eliminar Sitios de confianza (Internet Explorer)", "sitios-confianza",
                         "EliminarSitiosConfianza", &Funciones::EliminarSitiosConfianza,
                         catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kInternet, 2,
                         "Eliminar Sitios restringidos (Internet Explorer)", "sitios-restringidos",
                         "EliminarSitiosRestringidos", &Funciones::EliminarSitiosRestringidos,
                         catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kInternet, 3,
                         "Eliminar ventanas emergentes permitidas (Internet Explorer)",
                         "ventanas-emergentes", "EliminarVentanasPermitidas",
                         &Funciones::EliminarVentanasPermitidas, catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kInternet, 4, "Restaurar el archivo hosts", "hosts",
                         "RestaurarHosts", &Funciones::RestaurarHosts),
    catalog_detail::kModernYield,
    catalog_detail::Task(CheckArray::kModern, 0, "Quitar depuradores que bloquean programas",
                         "depuradores", "QuitarDepuradores", &Funciones::QuitarDepuradores),
    catalog_detail::Task(CheckArray::kModern, 1, "Reactivar Windows Defender", "defender",
                         "ReactivarDefender", &Funciones::ReactivarDefender),
    catalog_detail::Task(CheckArray::kModern, 2, "Quitar directivas impuestas a los navegadores",
                         "navegadores", "QuitarDirectivasNavegadores",
                         &Funciones::QuitarDirectivasNavegadores, catalog_detail::kPerUser),
    catalog_detail::Task(CheckArray::kModern, 3, "Quitar el proxy impuesto", "proxy", "QuitarProxy",
                         &Funciones::QuitarProxy, catalog_detail::kPerUser),
};

/// The caption of a box; empty when there is no such box.
constexpr std::string_view BoxCaption(CheckArray array, int index) {
  for (const Step& step : kSteps) {
    if (step.HasBox() && step.array == array && step.index == index) return step.caption;
  }
  return {};
}

/// The step of the repair `name`. Evaluated while compiling: an unknown
/// name does not compile.
consteval const Step& TaskNamed(std::string_view name) {
  for (const Step& step : kSteps) {
    if (step.kind == StepKind::kTask && step.name == name) return step;
  }
  throw "no repair of that name";
}

/// The step of the home-page dialog.
consteval const Step& StartPageStep() {
  for (const Step& step : kSteps) {
    if (step.kind == StepKind::kStartPageDialog) return step;
  }
  throw "no home-page dialog";
}

/// How many steps run a repair.
constexpr std::size_t TaskCount() {
  std::size_t count = 0;
  for (const Step& step : kSteps) count += step.kind == StepKind::kTask ? 1 : 0;
  return count;
}

}  // namespace sorbantilex
