#include "ui/cli/terminal.h"

#include <cstdio>

#include "registry/utf8.h"

namespace sorbantilex::cli {
namespace {

bool Reorders(char32_t code) {
  return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) ||
         code == 0x200E || code == 0x200F || code == 0x061C;
}

void AppendByte(std::string& out, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  out += escaped;
}

}  // namespace

std::string Terminal(std::string_view text, Breaks breaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (breaks == Breaks::kKept && byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) {
      if (byte == '\n' && breaks == Breaks::kKept) {
        out += '\n';
      } else if (byte == '\n') {
        out += "\\n";
      } else if (byte == '\r') {
        out += "\\r";
      } else if (byte == '\t') {
        out += "\\t";
      } else {
        AppendByte(out, byte);
      }
      ++i;
      continue;
    }
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, i, &code);
    if (length == 0) {
      AppendByte(out, byte);
      ++i;
      continue;
    }
    if (code <= 0x9F || (code >= 0xD800 && code <= 0xDFFF) || Reorders(code)) {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "\\u{%04x}", static_cast<unsigned>(code));
      out += escaped;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

}  // namespace sorbantilex::cli
