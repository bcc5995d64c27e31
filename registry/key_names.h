#pragma once

#include <string>
#include <string_view>

namespace sorbantilex {

/// A key or value name upper-cased the way the registry compares names:
/// letter case ignored (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic),
/// every other character kept. Comparing the results orders names as a
/// Windows hive stores its subkeys ("[br]" and "_x" come after "zz").
/// Bytes that are not valid UTF-8 are kept as they are.
std::string UpperName(std::string_view utf8);

/// Whether two names are the same name to the registry.
inline bool SameName(std::string_view a, std::string_view b) {
  return UpperName(a) == UpperName(b);
}

}  // namespace sorbantilex
