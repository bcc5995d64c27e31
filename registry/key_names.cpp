#include "registry/key_names.h"

#include "registry/utf8.h"

namespace sorbantilex {

namespace {

char32_t UpperCodePoint(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t{1};
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

}  // namespace

std::string UpperName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(utf8, i, &c);
    if (length == 0) {
      out += utf8[i];
      ++i;
      continue;
    }
    AppendUtf8(out, UpperCodePoint(c));
    i += length;
  }
  return out;
}

bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  if (path.empty()) return true;
  if (path.back() == '\\') path.remove_suffix(1);
  std::size_t start = 0;
  while (true) {
    const auto slash = path.find('\\', start);
    const auto part =
        path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
    if (part.empty()) return false;
    parts->push_back(part);
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

}  // namespace sorbantilex
