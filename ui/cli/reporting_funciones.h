#pragma once

#include <functional>
#include <string_view>

#include "tasks/funciones.h"
#include "ui/cli/change_log.h"

namespace sorbantilex::cli {

/// The repairs, each opening a section of the change log, under its box's
/// caption, before it runs. `checkpoint`, when set, is called before each
/// repair and may end the program (a run that must not go on).
class ReportingFunciones final : public Funciones {
 public:
  ReportingFunciones(TaskPlatform platform, ChangeLog& log,
                     std::function<void()> checkpoint = nullptr)
      : Funciones(platform), log_(log), checkpoint_(std::move(checkpoint)) {}

  void EliminarRestriccionesSistema() override;
  void EliminarRestriccionesExplorador() override;
  void EliminarRestriccionesActiveDesktop() override;
  void EliminarRestriccionesAgregarQuitar() override;
  void RepararArchivosOcultos() override;
  void RepararRestaurarSistema() override;
  void RestaurarShell() override;
  void RestaurarUserinit() override;
  void ReactivarSFC() override;
  void RepararModoSeguro() override;
  void EliminarSitiosConfianza() override;
  void EliminarSitiosRestringidos() override;
  void EliminarVentanasPermitidas() override;
  void RestaurarHosts() override;

 private:
  ChangeLog& log_;
  std::function<void()> checkpoint_;
};

/// The home-page dialog is answered with `page`: opens its section of the
/// change log and prints the answer as the dialog would show it.
void ReportStartPageDialog(ChangeLog& log, std::string_view page);

}  // namespace sorbantilex::cli
