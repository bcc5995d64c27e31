#pragma once

// The Safe Mode lists; not part of the module's interface.

#include <array>
#include <string_view>
#include <vector>

namespace sorbantilex {

/// One entry of a Safe Mode list: a key under the group key, whose default
/// value (REG_SZ) is the text.
struct EntradaModoSeguro {
  std::string_view clave;
  std::string_view texto;
};

inline constexpr std::string_view kTextoServicio = "Service";
inline constexpr std::string_view kTextoControlador = "Driver";
inline constexpr std::string_view kTextoGrupo = "Driver Group";

/// The Minimal set, in the order written.
extern const std::array<EntradaModoSeguro, 42> kModoSeguroMinimo;

/// The Network set: every entry of the Minimal set with the same text and the
/// entries only Safe Mode with networking loads, in the order written
/// (ascending key name, letters compared as lower case).
std::vector<EntradaModoSeguro> ModoSeguroRed();

}  // namespace sorbantilex
