// The four policy-lock repairs.

#include <array>
#include <string>
#include <string_view>

#include "tasks/politicas.h"
#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

// Key names, in the order of `Politica`.
constexpr std::array<std::string_view, 5> kNombresPolitica = {"System", "Explorer", "ActiveDesktop",
                                                              "Uninstall", "SystemRestore"};

}  // namespace

void EliminarPolitica(Registro& registro, Politica politica) {
  const auto nombre = kNombresPolitica[static_cast<std::size_t>(politica)];
  const std::string clave = std::string(kClavePoliticas).append(nombre);
  const std::string copia = CopiaDeDirectiva(clave);
  registro.EliminarClave(kHkeyLocalMachine, clave);
  registro.EliminarClave(kHkeyCurrentUser, clave);
  registro.EliminarClave(kHkeyLocalMachine, copia);
  registro.EliminarClave(kHkeyCurrentUser, copia);
}

void Funciones::EliminarRestriccionesSistema() {
  RegistroDeTarea tarea(*this);
  EliminarPolitica(registro(), Politica::kSystem);
}

void Funciones::EliminarRestriccionesExplorador() {
  RegistroDeTarea tarea(*this);
  EliminarPolitica(registro(), Politica::kExplorer);
}

void Funciones::EliminarRestriccionesActiveDesktop() {
  RegistroDeTarea tarea(*this);
  EliminarPolitica(registro(), Politica::kActiveDesktop);
}

void Funciones::EliminarRestriccionesAgregarQuitar() {
  RegistroDeTarea tarea(*this);
  EliminarPolitica(registro(), Politica::kUninstall);
}

}  // namespace sorbantilex
