#include "platform/offline/hive_file/utf16.h"

namespace sorbantilex::offline {

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace sorbantilex::offline
