#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registro.h"
#include "registry/registry_api.h"
#include "tasks/automation.h"
#include "tasks/files.h"
#include "tasks/system_info.h"
#include "tasks/window_services.h"

namespace sorbantilex {

/// What the repairs need of the platform they run on.
struct TaskPlatform {
  RegistryApi& registry;
  SystemInfo& system;
  Files& files;
  Wmi& wmi;
  WindowServices& ui;
};

/// The repair tasks. Each is an operation without parameters; the ones that
/// work on the registry create a new `Registro` in the module's one registry
/// object variable at their start and release it at their end. Registry
/// statuses never reach the caller; a failure of WMI, of a file operation or
/// of a value conversion is raised as `Failure` and ends the task where it
/// stands. Every task is safe to run twice.
///
/// The tasks are virtual so that tests of the task runner can record which
/// ones ran.
class Funciones {
 public:
  explicit Funciones(TaskPlatform platform) : platform_(platform) {}
  virtual ~Funciones() = default;
  Funciones(const Funciones&) = delete;
  Funciones& operator=(const Funciones&) = delete;

  virtual void EliminarRestriccionesSistema();
  virtual void EliminarRestriccionesExplorador();
  virtual void EliminarRestriccionesActiveDesktop();
  virtual void EliminarRestriccionesAgregarQuitar();
  virtual void RepararArchivosOcultos();
  virtual void RepararRestaurarSistema();
  virtual void RestaurarShell();
  virtual void RestaurarUserinit();
  virtual void ReactivarSFC();
  /// Safe Mode: on Windows XP and earlier the SafeBoot key is deleted and
  /// written again from the two lists. On later systems, and when the
  /// version cannot be read, nothing is deleted: every entry there stays as
  /// it is, the entries of the lists that are missing are added.
  virtual void RepararModoSeguro();
  virtual void EliminarSitiosConfianza();
  virtual void EliminarSitiosRestringidos();
  virtual void EliminarVentanasPermitidas();
  virtual void RestaurarHosts();

  // Repairs for Windows Vista to 11, run by the offline front ends only.

  /// Image File Execution Options, both views: every "Debugger" value of
  /// an image key (and of its filter subkeys) goes, the silent-process-exit
  /// bit of each "GlobalFlag" is cleared; the SilentProcessExit keys that
  /// name a monitor process go.
  virtual void QuitarDepuradores();
  /// Defender's policy keys go whole; its exclusion lists are emptied.
  virtual void ReactivarDefender();
  /// The policy keys of Chrome, Edge, Brave, Firefox and Chromium go whole,
  /// machine-wide (both views) and for the user.
  virtual void QuitarDirectivasNavegadores();
  /// The user's proxy is turned off and forgotten; the proxy policies go.
  virtual void QuitarProxy();

  /// Starts (`accion` non-zero) or stops (zero) one service by its name
  /// through WMI. Method results are not examined; an unknown name does
  /// nothing. WMI failures are raised.
  void ControlarServicio(std::int32_t accion, std::string_view servicio);

 private:
  /// Holds a new `Registro` in the registry object variable for the life of
  /// one task and clears the variable when the task ends, however it ends.
  class RegistroDeTarea;

  /// The registry object of the running task. A task run from a handler
  /// during one of this task's yields clears the variable when it ends; the
  /// object is then made anew rather than used after its release.
  Registro& registro();
  /// Removes the zone-map entries that map a site to `zona`.
  void EliminarSitiosDeZona(std::int32_t zona);

  TaskPlatform platform_;
  /// The module's one registry object variable.
  std::optional<Registro> registro_;
};

}  // namespace sorbantilex
