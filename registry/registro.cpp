#include "registry/registro.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace sorbantilex {

namespace {

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Status ScopedKey::Close() {
  if (closed_) return kErrorSuccess;
  closed_ = true;
  return registry_.CloseKey(handle_);
}

void Registro::EliminarClave(KeyRef clave, std::string_view Nombre_clave) {
  (void)EliminarClaveRecursiva(clave, Nombre_clave);
}

void Registro::EliminarValor(KeyRef clave, std::string_view Nombre_clave,
                             std::string_view Nombre_valor) {
  ScopedKey key(registry_);
  (void)registry_.OpenKey(clave, Nombre_clave, 0, kRegistroAccess, key.out());
  (void)registry_.DeleteValue(key.get(), Nombre_valor);
}

void Registro::CrearNuevaClave(KeyRef clave, std::string_view Nombre_clave) {
  ScopedKey key(registry_);
  std::uint32_t disposition = 0;
  (void)registry_.CreateKey(clave, Nombre_clave, kRegOptionNonVolatile, kRegistroAccess, key.out(),
                            &disposition);
}

void Registro::EstablecerValor(KeyRef clave, std::string_view Nombre_clave,
                               std::string_view Nombre_valor, const Variante& el_Valor,
                               std::uint32_t Tipo_Valor) {
  ScopedKey key(registry_);
  (void)registry_.OpenKey(clave, Nombre_clave, 0, kRegistroAccess, key.out());
  (void)EscribirValor(key.get(), Nombre_valor, Tipo_Valor, el_Valor);
}

Variante Registro::ConsultarValor(KeyRef clave, std::string_view Nombre_clave,
                                  std::string_view Nombre_valor) {
  ScopedKey key(registry_);
  (void)registry_.OpenKey(clave, Nombre_clave, 0, kRegistroAccess, key.out());
  Variante resultado;
  (void)LeerValor(key.get(), Nombre_valor, resultado);
  return resultado;
}

Status Registro::EscribirValor(KeyRef handle, std::string_view Nombre_valor,
                               std::uint32_t Tipo_Valor, const Variante& el_Valor) {
  switch (Tipo_Valor) {
    case kRegSz:
    case kRegExpandSz:
    case kRegMultiSz:
    case kRegBinary: {
      const std::string text = el_Valor.ToText();
      return registry_.SetValue(handle, Nombre_valor, Tipo_Valor, BytesOf(text));
    }
    case kRegDword: {
      const auto number = static_cast<std::uint32_t>(el_Valor.ToInt32());
      const std::array<std::uint8_t, 4> bytes = {
          static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
      return registry_.SetValue(handle, Nombre_valor, kRegDword, bytes);
    }
    default:
      return kErrorSuccess;
  }
}

Status Registro::LeerValor(KeyRef handle, std::string_view Nombre_valor, Variante& resultado) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  Status status = registry_.QueryValue(handle, Nombre_valor, &type, nullptr, &size);
  if (status != kErrorSuccess) return status;

  if (type == kRegSz) {
    std::vector<std::uint8_t> buffer(size, 0);
    status = registry_.QueryValue(handle, Nombre_valor, &type, buffer.data(), &size);
    if (status == kErrorSuccess) {
      const auto count = std::min<std::size_t>(size, buffer.size());
      resultado = std::string(reinterpret_cast<const char*>(buffer.data()), count);
    }
    return status;
  }
  if (type == kRegDword) {
    std::array<std::uint8_t, 4> bytes{};
    size = static_cast<std::uint32_t>(bytes.size());
    status = registry_.QueryValue(handle, Nombre_valor, &type, bytes.data(), &size);
    if (status == kErrorSuccess) {
      const std::uint32_t number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[3]) << 24);
      resultado = static_cast<std::int32_t>(number);
    }
    return status;
  }
  return -1;
}

Status Registro::EliminarClaveRecursiva(KeyRef clave, std::string_view Nombre_clave) {
  ScopedKey key(registry_);
  Status status = registry_.OpenKey(clave, Nombre_clave, 0, kRegistroAccess, key.out());
  if (status != kErrorSuccess) {
    key.Dismiss();
    return status;
  }

  std::uint32_t subkeys = 0;
  std::uint32_t longest = 0;
  status = registry_.QueryInfoKey(key.get(), &subkeys, &longest);
  if (status != kErrorSuccess) return status;

  // Highest index first, so that deleting a subkey never moves one not yet visited.
  std::vector<char> name(static_cast<std::size_t>(longest) + 1);
  for (std::uint32_t index = subkeys; index-- > 0;) {
    auto length = static_cast<std::uint32_t>(name.size());
    if (registry_.EnumKey(key.get(), index, name.data(), &length) == kErrorSuccess) {
      const std::string child(name.data(), std::min<std::size_t>(length, name.size()));
      (void)EliminarClaveRecursiva(key.get(), child);
    }
  }
  key.Close();
  return registry_.DeleteKey(clave, Nombre_clave);
}

}  // namespace sorbantilex
