// The pop-up allow list of Internet Explorer.

#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

void Funciones::EliminarVentanasPermitidas() {
  constexpr std::string_view kPermitidas =
      "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
  RegistroDeTarea tarea(*this);
  registro().EliminarClave(kHkeyCurrentUser, kPermitidas);
  registro().CrearNuevaClave(kHkeyCurrentUser, kPermitidas);
  registro().EstablecerValor(kHkeyCurrentUser, kPermitidas, "PopupMgr", "yes", kRegSz);
}

}  // namespace sorbantilex
