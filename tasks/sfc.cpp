// The system file checker switch.

#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

void Funciones::ReactivarSFC() {
  RegistroDeTarea tarea(*this);
  registro().EstablecerValor(kHkeyLocalMachine,
                             "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                             "SFCDisable", "0", kRegDword);
}

}  // namespace sorbantilex
