#include "registry/reg_file.h"

#include <algorithm>
#include <cstdio>

#include "registry/utf8.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kLineEnd = "\r\n";
// regedit breaks hex lists after about 80 columns; so do we, for reading.
constexpr std::size_t kHexLineWidth = 77;

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// regedit reads a file line by line and knows no escape for a line break or
// a zero in a name: such a name would end its line there, and the rest of it
// be read as lines of their own.
bool Representable(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

void AppendEscape(std::string& out, const char* format, unsigned code) {
  char escaped[16];
  std::snprintf(escaped, sizeof escaped, format, code);
  out += escaped;
}

// A name as a comment and the caller may show it: on one line, with zeros,
// control characters, line and paragraph separators, lone surrogates and
// bytes that are no UTF-8 written as escapes ("\r", "\0", "\x1b",
// "\u{2028}"). In a value name, quotes and backslashes are escaped too,
// as in the quoted names of the file.
std::string Visible(std::string_view text, bool quoted) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte == '\0') {
        out += "\\0";
      } else if (byte == '\r') {
        out += "\\r";
      } else if (byte == '\n') {
        out += "\\n";
      } else if (byte == '\t') {
        out += "\\t";
      } else if (byte < 0x20 || byte == 0x7F) {
        AppendEscape(out, "\\x%02x", byte);
      } else {
        if (quoted && (byte == '\\' || byte == '"')) out += '\\';
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, i, &code);
    if (length == 0) {
      AppendEscape(out, "\\x%02x", byte);
      ++i;
      continue;
    }
    if (code <= 0x9F || code == 0x2028 || code == 0x2029 || (code >= 0xD800 && code <= 0xDFFF)) {
      AppendEscape(out, "\\u{%04x}", static_cast<unsigned>(code));
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string VisibleKey(std::string_view path) { return "[" + Visible(path, false) + "]"; }

std::string VisibleValue(std::string_view path, std::string_view name) {
  return VisibleKey(path) + " \"" + Visible(name, true) + "\"";
}

constexpr std::string_view kWhyOmitted =
    ": regedit no admite saltos de línea ni ceros en los nombres.";

// A REG_SZ that regedit's quoted form gives back byte for byte: one valid
// text, NUL-terminated, no other NUL, no line break, no lone surrogate.
bool HasTextForm(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  const std::string_view text = data.substr(0, data.size() - 1);
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, i, &code);
    if (length == 0 || code == 0 || code == '\r' || code == '\n' ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

// "hex:..." or "hex(N):...", broken into continued lines as regedit does.
std::string HexList(std::string prefix, std::span<const std::uint8_t> bytes, std::size_t column) {
  std::string out = std::move(prefix);
  column += out.size();
  char byte[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
    out += byte;
    column += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++column;
      if (column >= kHexLineWidth) {
        out += '\\';
        out += kLineEnd;
        out += "  ";
        column = 2;
      }
    }
  }
  return out;
}

std::string ValueData(const RegFileValue& value, std::size_t column) {
  if (value.remove) return "-";
  const std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size());
  // The bytes Windows keeps for a string: the store's own where it gave
  // them (they may hold what no text stands for), else the text's.
  const auto utf16 = [&] { return value.stored ? *value.stored : Utf8ToUtf16Le(text); };
  switch (value.type) {
    case kRegSz:
      if (HasTextForm(text) && (!value.stored || *value.stored == Utf8ToUtf16Le(text))) {
        return Quoted(text.substr(0, text.size() - 1));
      }
      return HexList("hex(1):", utf16(), column);
    case kRegExpandSz:
    case kRegMultiSz: {
      char prefix[16];
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
      return HexList(prefix, utf16(), column);
    }
    case kRegDword:
      if (value.data.size() == 4) {
        const std::uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                     (static_cast<std::uint32_t>(value.data[3]) << 24);
        char dword[16];
        std::snprintf(dword, sizeof dword, "dword:%08x", number);
        return dword;
      }
      break;
    case kRegBinary:
      return HexList("hex:", value.data, column);
    default:
      break;
  }
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
  return HexList(prefix, value.data, column);
}

}  // namespace

std::string_view RootKeyName(KeyRef root) {
  switch (root) {
    case kHkeyClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case kHkeyCurrentUser:
      return "HKEY_CURRENT_USER";
    case kHkeyLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case kHkeyUsers:
      return "HKEY_USERS";
    case kHkeyPerformanceData:
      return "HKEY_PERFORMANCE_DATA";
    case kHkeyCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
    case kHkeyDynData:
      return "HKEY_DYN_DATA";
    default:
      return {};
  }
}

std::string RegFileText(std::span<const RegFileKey> keys, std::vector<std::string>* omitted) {
  std::string out(kHeader);
  out += kLineEnd;
  out += kLineEnd;
  std::vector<std::string> left_out;
  std::vector<std::string_view> omitted_keys;
  for (const RegFileKey& key : keys) {
    if (!Representable(key.path)) {
      // Once for a key: what lies beneath it goes with it.
      const bool beneath = std::ranges::any_of(omitted_keys, [&](std::string_view above) {
        return key.path.size() > above.size() && key.path.starts_with(above) &&
               key.path[above.size()] == '\\';
      });
      if (!beneath) {
        omitted_keys.push_back(key.path);
        left_out.push_back(VisibleKey(key.path));
        out += "; Se omite la clave " + left_out.back() + " con todo lo que contiene";
        out += kWhyOmitted;
        out += kLineEnd;
        out += kLineEnd;
      }
      continue;
    }
    out += key.remove ? "[-" : "[";
    out += key.path;
    out += "]";
    out += kLineEnd;
    if (!key.remove) {
      for (const RegFileValue& value : key.values) {
        if (!Representable(value.name)) {
          left_out.push_back(VisibleValue(key.path, value.name));
          out += "; Se omite el valor \"" + Visible(value.name, true) + "\"";
          out += kWhyOmitted;
          out += kLineEnd;
          continue;
        }
        std::string line = value.name.empty() ? std::string("@") : Quoted(value.name);
        line += '=';
        line += ValueData(value, line.size());
        out += line;
        out += kLineEnd;
      }
    }
    out += kLineEnd;
  }
  if (omitted != nullptr) *omitted = std::move(left_out);
  return out;
}

std::vector<std::uint8_t> RegFileBytes(std::span<const RegFileKey> keys,
                                       std::vector<std::string>* omitted) {
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  const std::vector<std::uint8_t> text = Utf8ToUtf16Le(RegFileText(keys, omitted));
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

}  // namespace sorbantilex
