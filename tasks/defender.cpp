// Windows Defender turned off by policy, or told to look away from the
// malware's folders, programs, file types and addresses.

#include <string>
#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

void Funciones::ReactivarDefender() {
  constexpr std::string_view kDirectivas[] = {
      "SOFTWARE\\Policies\\Microsoft\\Windows Defender",
      "SOFTWARE\\Policies\\Microsoft\\Windows Defender Security Center",
  };
  constexpr std::string_view kExclusiones = "SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\";
  constexpr std::string_view kListas[] = {"Paths", "Processes", "Extensions", "IpAddresses"};

  RegistroDeTarea tarea(*this);
  for (const std::string_view directiva : kDirectivas) {
    registro().EliminarClave(kHkeyLocalMachine, directiva);
  }
  // The lists' keys stay, emptied: Defender keeps them.
  for (const std::string_view lista : kListas) {
    const std::string clave = std::string(kExclusiones).append(lista);
    for (const std::string& excluido :
         NombresDeValores(platform_.registry, kHkeyLocalMachine, clave)) {
      registro().EliminarValor(kHkeyLocalMachine, clave, excluido);
    }
  }
}

}  // namespace sorbantilex
