#pragma once

#include <cstdint>
#include <string_view>

#include "registry/registry_api.h"
#include "registry/variante.h"

namespace sorbantilex {

/// The registry key class through which every repair and the home-page
/// dialog reads, writes and deletes keys and values.
///
/// Each operation opens its key with the access mask 0x3F, acts, and closes
/// the key again. No registry status ever reaches the caller: a missing key,
/// a missing value, a refused access or an invalid handle leaves the registry
/// unchanged and the operation returns normally. When an open fails, the
/// following calls are still made with the null handle and the store refuses
/// them. The only failure raised is a value that cannot be converted as a
/// REG_DWORD (`Failure` 13 or 534); the key is closed before it leaves.
///
/// Holds nothing but a reference to the registry it works on.
class Registro {
 public:
  explicit Registro(RegistryApi& registry) : registry_(registry) {}

  /// Deletes the key and everything beneath it, depth first. A missing key
  /// is passed over. Safe to run twice.
  void EliminarClave(KeyRef clave, std::string_view Nombre_clave);
  /// Deletes one value of an existing key.
  void EliminarValor(KeyRef clave, std::string_view Nombre_clave, std::string_view Nombre_valor);
  /// Creates the key and any missing intermediate keys; an existing key is
  /// only opened, its values untouched.
  void CrearNuevaClave(KeyRef clave, std::string_view Nombre_clave);
  /// Writes one value into an existing key; never creates the key.
  /// Types 1, 2, 7: the text, no terminator. 3: the bytes of the text.
  /// 4: the value as a 32-bit integer, little-endian. Any other type: nothing.
  void EstablecerValor(KeyRef clave, std::string_view Nombre_clave, std::string_view Nombre_valor,
                       const Variante& el_Valor, std::uint32_t Tipo_Valor);
  /// Reads a REG_SZ (as text, a stored terminator included) or a REG_DWORD
  /// (as a 32-bit integer). Anything else, or anything missing: empty.
  Variante ConsultarValor(KeyRef clave, std::string_view Nombre_clave,
                          std::string_view Nombre_valor);

 private:
  Status EscribirValor(KeyRef handle, std::string_view Nombre_valor, std::uint32_t Tipo_Valor,
                       const Variante& el_Valor);
  Status LeerValor(KeyRef handle, std::string_view Nombre_valor, Variante& resultado);
  Status EliminarClaveRecursiva(KeyRef clave, std::string_view Nombre_clave);

  RegistryApi& registry_;
};

/// Closes a key handle when it goes out of scope, including the null handle
/// of a failed open (the store refuses that close, as Windows does).
class ScopedKey {
 public:
  explicit ScopedKey(RegistryApi& registry) : registry_(registry) {}
  ~ScopedKey() { Close(); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  KeyRef* out() { return &handle_; }
  KeyRef get() const { return handle_; }
  /// Closes now; later closes do nothing. Returns the close status.
  Status Close();
  /// Makes no close call at all (after a failed open where none is due).
  void Dismiss() { closed_ = true; }

 private:
  RegistryApi& registry_;
  KeyRef handle_ = kNullKey;
  bool closed_ = false;
};

}  // namespace sorbantilex
