#pragma once

// What the repair sources share; not part of the module's interface.

#include <string>
#include <string_view>
#include <vector>

#include "registry/registro.h"
#include "tasks/funciones.h"

namespace sorbantilex {

class Funciones::RegistroDeTarea {
 public:
  explicit RegistroDeTarea(Funciones& funciones) : funciones_(funciones) {
    funciones_.registro_.emplace(funciones_.platform_.registry);
  }
  ~RegistroDeTarea() { funciones_.registro_.reset(); }
  RegistroDeTarea(const RegistroDeTarea&) = delete;
  RegistroDeTarea& operator=(const RegistroDeTarea&) = delete;

 private:
  Funciones& funciones_;
};

inline Registro& Funciones::registro() {
  if (!registro_) registro_.emplace(platform_.registry);
  return *registro_;
}

/// What the repairs that go through what they find read of a key, straight
/// from the registry (reading leaves nothing to undo). A missing key gives
/// nothing.
/// The names of the key's direct subkeys, in the registry's order.
std::vector<std::string> Subclaves(RegistryApi& registry, KeyRef raiz, std::string_view clave);
/// The names of the key's values, in the registry's order.
std::vector<std::string> NombresDeValores(RegistryApi& registry, KeyRef raiz,
                                          std::string_view clave);
/// Whether the key holds the value, whatever its type and data.
bool ExisteValor(RegistryApi& registry, KeyRef raiz, std::string_view clave,
                 std::string_view valor);

/// The policy keys that the repairs remove, each under
/// "...\CurrentVersion\Policies" and in its local group-policy copy.
enum class Politica { kSystem, kExplorer, kActiveDesktop, kUninstall, kSystemRestore };

/// Deletes the policy key under HKEY_LOCAL_MACHINE, then under
/// HKEY_CURRENT_USER, then its group-policy copy under both roots in the same
/// order. Missing or protected keys are passed over.
void EliminarPolitica(Registro& registro, Politica politica);

}  // namespace sorbantilex
