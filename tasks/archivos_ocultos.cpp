// Explorer's hidden-file and protected-file display settings.

#include <array>
#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

constexpr std::string_view kShowAll =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\Hidden\\SHOWALL";
constexpr std::string_view kNoHidden =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\Hidden\\NOHIDDEN";
constexpr std::string_view kSuperHidden =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\SuperHidden";
constexpr std::string_view kPolicy =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\SuperHidden\\"
    "Policy";
constexpr std::string_view kDontShowSuperHidden =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\SuperHidden\\"
    "Policy\\DontShowSuperHidden";

struct ValorCarpeta {
  std::string_view clave;
  std::string_view nombre;
  std::int16_t dato;
};

// Written into existing keys only, as REG_DWORD, in this order.
constexpr std::array<ValorCarpeta, 7> kValores = {{
    {kShowAll, "DefaultValue", 2},
    {kShowAll, "CheckedValue", 1},
    {kNoHidden, "DefaultValue", 2},
    {kNoHidden, "CheckedValue", 2},
    {kSuperHidden, "DefaultValue", 0},
    {kSuperHidden, "CheckedValue", 0},
    {kSuperHidden, "UncheckedValue", 1},
}};

}  // namespace

void Funciones::RepararArchivosOcultos() {
  RegistroDeTarea tarea(*this);
  for (const auto& valor : kValores) {
    registro().EstablecerValor(kHkeyLocalMachine, valor.clave, valor.nombre, valor.dato, kRegDword);
  }
  registro().EliminarClave(kHkeyLocalMachine, kPolicy);
  registro().CrearNuevaClave(kHkeyLocalMachine, kPolicy);
  registro().CrearNuevaClave(kHkeyLocalMachine, kDontShowSuperHidden);
  registro().EstablecerValor(kHkeyLocalMachine, kDontShowSuperHidden, "", "", kRegSz);
}

}  // namespace sorbantilex
