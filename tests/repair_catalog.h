#pragma once

#include <ostream>
#include <string_view>

#include "tasks/funciones.h"

namespace sorbantilex {

/// One repair, for tables of cases.
struct Repair {
  std::string_view name;
  void (Funciones::*run)();
};
inline void PrintTo(const Repair& repair, std::ostream* out) { *out << repair.name; }

/// Every repair of `Funciones`, in the order the task runner calls them.
inline constexpr Repair kRepairs[] = {
    {"EliminarRestriccionesSistema", &Funciones::EliminarRestriccionesSistema},
    {"EliminarRestriccionesExplorador", &Funciones::EliminarRestriccionesExplorador},
    {"EliminarRestriccionesActiveDesktop", &Funciones::EliminarRestriccionesActiveDesktop},
    {"EliminarRestriccionesAgregarQuitar", &Funciones::EliminarRestriccionesAgregarQuitar},
    {"RepararArchivosOcultos", &Funciones::RepararArchivosOcultos},
    {"RepararModoSeguro", &Funciones::RepararModoSeguro},
    {"RestaurarUserinit", &Funciones::RestaurarUserinit},
    {"RestaurarShell", &Funciones::RestaurarShell},
    {"ReactivarSFC", &Funciones::ReactivarSFC},
    {"RepararRestaurarSistema", &Funciones::RepararRestaurarSistema},
    {"EliminarSitiosConfianza", &Funciones::EliminarSitiosConfianza},
    {"EliminarSitiosRestringidos", &Funciones::EliminarSitiosRestringidos},
    {"EliminarVentanasPermitidas", &Funciones::EliminarVentanasPermitidas},
    {"RestaurarHosts", &Funciones::RestaurarHosts},
};

}  // namespace sorbantilex
