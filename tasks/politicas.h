#pragma once

// Where Windows keeps policies, and the copy of them that local group policy
// keeps and writes back.

#include <string>
#include <string_view>

namespace sorbantilex {

/// The policy keys of the shell, under either root.
inline constexpr std::string_view kClavePoliticas =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

/// Local group policy keeps a copy of each policy key it sets, at the same
/// path beneath this key, under either root.
inline constexpr std::string_view kClaveCopiaDirectivas =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\";

/// The group-policy copy of the policy key at `clave` (a path under the
/// root).
inline std::string CopiaDeDirectiva(std::string_view clave) {
  return std::string(kClaveCopiaDirectivas).append(clave);
}

}  // namespace sorbantilex
