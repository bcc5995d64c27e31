// Reading a key's subkeys and values for the repairs that go through what
// they find.

#include <string>
#include <string_view>
#include <vector>

#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

// An open key for reading, closed when it goes out of scope; a key that did
// not open makes no close call.
class ClaveLeida {
 public:
  ClaveLeida(RegistryApi& registry, KeyRef raiz, std::string_view clave) : key_(registry) {
    abierta_ = registry.OpenKey(raiz, clave, 0, kKeyRead, key_.out()) == kErrorSuccess;
    if (!abierta_) key_.Dismiss();
  }
  bool abierta() const { return abierta_; }
  KeyRef get() const { return key_.get(); }

 private:
  ScopedKey key_;
  bool abierta_ = false;
};

}  // namespace

std::vector<std::string> Subclaves(RegistryApi& registry, KeyRef raiz, std::string_view clave) {
  std::vector<std::string> nombres;
  const ClaveLeida key(registry, raiz, clave);
  if (!key.abierta()) return nombres;
  std::uint32_t longest = 0;
  if (registry.QueryInfoKey(key.get(), nullptr, &longest) != kErrorSuccess) return nombres;
  std::vector<char> name(static_cast<std::size_t>(longest) + 1);
  for (std::uint32_t index = 0;; ++index) {
    auto length = static_cast<std::uint32_t>(name.size());
    if (registry.EnumKey(key.get(), index, name.data(), &length) != kErrorSuccess) break;
    nombres.emplace_back(name.data(), length);
  }
  return nombres;
}

std::vector<std::string> NombresDeValores(RegistryApi& registry, KeyRef raiz,
                                          std::string_view clave) {
  std::vector<std::string> nombres;
  const ClaveLeida key(registry, raiz, clave);
  if (!key.abierta()) return nombres;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    if (registry.EnumValue(key.get(), index, &name, nullptr, nullptr) != kErrorSuccess) break;
    nombres.push_back(std::move(name));
  }
  return nombres;
}

bool ExisteValor(RegistryApi& registry, KeyRef raiz, std::string_view clave,
                 std::string_view valor) {
  const ClaveLeida key(registry, raiz, clave);
  if (!key.abierta()) return false;
  std::uint32_t size = 0;
  return registry.QueryValue(key.get(), valor, nullptr, nullptr, &size) == kErrorSuccess;
}

}  // namespace sorbantilex
