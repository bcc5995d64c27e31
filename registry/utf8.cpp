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

namespace {

void PutUnit(std::vector<std::uint8_t>& out, std::uint32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

}  // namespace

std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  out.reserve(utf8.size() * 2);
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(utf8, i, &c);
    if (length == 0) {
      PutUnit(out, 0xDC00 + static_cast<std::uint8_t>(utf8[i]));
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      PutUnit(out, 0xD800 + (c >> 10));
      PutUnit(out, 0xDC00 + (c & 0x3FF));
    } else {
      PutUnit(out, c);
    }
    i += length;
  }
  return out;
}

std::string Utf16LeToUtf8(std::span<const std::uint8_t> utf16) {
  std::string out;
  out.reserve(utf16.size());
  const std::size_t units = utf16.size() / 2;
  auto unit_at = [&](std::size_t k) {
    return static_cast<std::uint32_t>(utf16[2 * k]) |
           (static_cast<std::uint32_t>(utf16[2 * k + 1]) << 8);
  };
  for (std::size_t k = 0; k < units; ++k) {
    const std::uint32_t u = unit_at(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      const std::uint32_t low = unit_at(k + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++k;
        continue;
      }
    }
    if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);
      continue;
    }
    AppendUtf8(out, u);
  }
  if (utf16.size() % 2 != 0) out += static_cast<char>(utf16.back());
  return out;
}

}  // namespace sorbantilex
