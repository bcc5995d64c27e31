#include "registry/reg_file.h"

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
  switch (value.type) {
    case kRegSz:
      if (HasTextForm(text)) return Quoted(text.substr(0, text.size() - 1));
      return HexList("hex(1):", Utf8ToUtf16Le(text), column);
    case kRegExpandSz:
    case kRegMultiSz: {
      char prefix[16];
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
      return HexList(prefix, Utf8ToUtf16Le(text), column);
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

std::string RegFileText(std::span<const RegFileKey> keys) {
  std::string out(kHeader);
  out += kLineEnd;
  out += kLineEnd;
  for (const RegFileKey& key : keys) {
    out += key.remove ? "[-" : "[";
    out += key.path;
    out += "]";
    out += kLineEnd;
    if (!key.remove) {
      for (const RegFileValue& value : key.values) {
        std::string line = value.name.empty() ? std::string("@") : Quoted(value.name);
        line += '=';
        line += ValueData(value, line.size());
        out += line;
        out += kLineEnd;
      }
    }
    out += kLineEnd;
  }
  return out;
}

std::vector<std::uint8_t> RegFileBytes(std::span<const RegFileKey> keys) {
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  const std::vector<std::uint8_t> text = Utf8ToUtf16Le(RegFileText(keys));
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

}  // namespace sorbantilex
