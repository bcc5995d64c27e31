#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sorbantilex {

/// A key or value name upper-cased the way the registry compares names:
/// letter case ignored (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic),
/// every other character kept. Comparing the results orders names as a
/// Windows hive stores its subkeys ("[br]" and "_x" come after "zz").
/// Bytes that are not valid UTF-8 are kept as they are.
std::string UpperName(std::string_view utf8);

/// The longest key name and value name Windows accepts, in UTF-16 units.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

/// Splits a key path at its backslashes into `parts` (views into `path`).
/// A single trailing backslash is ignored; false when any other component is
/// empty, which the registry answers with ERROR_BAD_PATHNAME.
bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* parts);

/// Whether two names are the same name to the registry.
inline bool SameName(std::string_view a, std::string_view b) {
  return UpperName(a) == UpperName(b);
}

}  // namespace sorbantilex
