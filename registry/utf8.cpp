#include "registry/utf8.h"

#include <cstdint>

namespace sorbantilex {

std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t* code) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  std::size_t length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(text[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF) return 0;
  *code = c;
  return length;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::size_t Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(utf8, i, &c);
    units += (length != 0 && c >= 0x10000) ? 2 : 1;
    i += length == 0 ? 1 : length;
  }
  return units;
}

}  // namespace sorbantilex
