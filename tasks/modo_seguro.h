#pragma once

// The Safe Mode lists; not part of the module's interface.

#include <array>
#include <span>
#include <string_view>
#include <vector>

namespace sorbantilex {

/// One entry of a Safe Mode list: a key under the group key, whose default
/// value (REG_SZ) is the text; an entry with the empty text has no default
/// value.
struct EntradaModoSeguro {
  std::string_view clave;
  std::string_view texto;
};

inline constexpr std::string_view kTextoServicio = "Service";
inline constexpr std::string_view kTextoControlador = "Driver";
inline constexpr std::string_view kTextoGrupo = "Driver Group";
inline constexpr std::string_view kSinTexto = "";

/// The Minimal set, in the order written.
extern const std::array<EntradaModoSeguro, 42> kModoSeguroMinimo;

/// The Network set: every entry of the Minimal set with the same text and the
/// entries only Safe Mode with networking loads, in the order written
/// (ascending key name, letters compared as lower case).
std::vector<EntradaModoSeguro> ModoSeguroRed();

/// The two lists of one Windows generation after XP, as a real installation
/// of it has them, in the order written.
struct ListasModoSeguro {
  std::span<const EntradaModoSeguro> minimo;
  std::span<const EntradaModoSeguro> red;
};

/// Windows Vista and 7.
extern const ListasModoSeguro kModoSeguroWindows7;
/// Windows 8 to 11.
extern const ListasModoSeguro kModoSeguroWindows10;

}  // namespace sorbantilex
