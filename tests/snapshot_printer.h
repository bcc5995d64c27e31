#pragma once

// A failing comparison of registry states prints keys and values, one to a
// line, indented by depth.

#include <ostream>
#include <string>

#include "platform/memory/memory_registry.h"

namespace sorbantilex {

inline void PrintTo(const KeySnapshot& key, std::ostream* out, int depth = 0) {
  *out << "\n" << std::string(depth * 2, ' ') << "[" << key.name << "]";
  for (const auto& value : key.values) {
    *out << "\n"
         << std::string(depth * 2 + 2, ' ') << "\"" << value.name << "\" type " << value.type
         << ":";
    for (const auto byte : value.data) *out << " " << static_cast<int>(byte);
  }
  for (const auto& child : key.subkeys) PrintTo(child, out, depth + 1);
}

}  // namespace sorbantilex
