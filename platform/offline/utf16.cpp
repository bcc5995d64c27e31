#include "platform/offline/utf16.h"

#include "registry/utf8.h"

namespace sorbantilex::offline {

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

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace sorbantilex::offline
