#include "ui/cli/reporting_funciones.h"

#include <iostream>
#include <string>

#include "app/ini_rem.h"
#include "app/task_catalog.h"
#include "ui/cli/terminal.h"

namespace sorbantilex::cli {

// The caption comes from the task catalogue by the repair's name; a name
// the catalogue does not know does not compile.
#define SORBANTILEX_REPORTED(task)                            \
  void ReportingFunciones::task() {                           \
    if (checkpoint_) checkpoint_();                           \
    log_.BeginSection(std::string(TaskNamed(#task).caption)); \
    Funciones::task();                                        \
  }
SORBANTILEX_REPORTED(EliminarRestriccionesSistema)
SORBANTILEX_REPORTED(EliminarRestriccionesExplorador)
SORBANTILEX_REPORTED(EliminarRestriccionesActiveDesktop)
SORBANTILEX_REPORTED(EliminarRestriccionesAgregarQuitar)
SORBANTILEX_REPORTED(RepararArchivosOcultos)
SORBANTILEX_REPORTED(RepararRestaurarSistema)
SORBANTILEX_REPORTED(RestaurarShell)
SORBANTILEX_REPORTED(RestaurarUserinit)
SORBANTILEX_REPORTED(ReactivarSFC)
SORBANTILEX_REPORTED(RepararModoSeguro)
SORBANTILEX_REPORTED(EliminarSitiosConfianza)
SORBANTILEX_REPORTED(EliminarSitiosRestringidos)
SORBANTILEX_REPORTED(EliminarVentanasPermitidas)
SORBANTILEX_REPORTED(RestaurarHosts)
#undef SORBANTILEX_REPORTED

void ReportStartPageDialog(ChangeLog& log, std::string_view page) {
  log.BeginSection(std::string(StartPageStep().caption));
  std::cout << "[" << IniRem::Layout().title << "] Dirección: " << Terminal(page, Breaks::kEscaped)
            << " (Aplicar)\n";
}

}  // namespace sorbantilex::cli
