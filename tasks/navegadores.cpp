// Policies forced on the browsers: a start page or search engine, an
// extension installed by force and never to be removed, a proxy, blocked
// settings pages.

#include <string>
#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

void Funciones::QuitarDirectivasNavegadores() {
  constexpr std::string_view kNavegadores[] = {
      "Google\\Chrome", "Microsoft\\Edge", "BraveSoftware\\Brave", "Mozilla\\Firefox", "Chromium",
  };
  struct Lugar {
    KeyRef raiz;
    std::string_view directivas;
  };
  // The machine's policies, the 32-bit programs' view of them, the user's.
  constexpr Lugar kLugares[] = {
      {kHkeyLocalMachine, "SOFTWARE\\Policies\\"},
      {kHkeyLocalMachine, "SOFTWARE\\WOW6432Node\\Policies\\"},
      {kHkeyCurrentUser, "Software\\Policies\\"},
  };

  RegistroDeTarea tarea(*this);
  for (const Lugar& lugar : kLugares) {
    for (const std::string_view navegador : kNavegadores) {
      registro().EliminarClave(lugar.raiz, std::string(lugar.directivas).append(navegador));
    }
  }
}

}  // namespace sorbantilex
