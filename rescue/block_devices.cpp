// lsblk's JSON, read with a small reader of its own: the few shapes lsblk
// writes (objects, arrays, strings, numbers, null, true, false).

#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "rescue/volumes.h"

namespace sorbantilex::rescue {
namespace {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::string text;  // a string's value, a number's digits, "true"/"false"
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Member(std::string_view name) const {
    for (const auto& [key, value] : members) {
      if (key == name) return &value;
    }
    return nullptr;
  }
};

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Json Document() {
    Json value = Value(0);
    Space();
    if (at_ != text_.size()) Fail("text after the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("lsblk output unreadable at byte " + std::to_string(at_) + ": " +
                             what);
  }
  void Space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }

  Json Value(int depth) {
    if (depth > 64) Fail("nested too deep");
    Space();
    if (at_ >= text_.size()) Fail("unexpected end");
    Json value;
    const char c = text_[at_];
    if (c == '{') {
      ++at_;
      value.kind = Json::Kind::kObject;
      if (Take('}')) return value;
      do {
        Space();
        std::string key = String();
        Expect(':');
        value.members.emplace_back(std::move(key), Value(depth + 1));
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++at_;
      value.kind = Json::Kind::kArray;
      if (Take(']')) return value;
      do {
        value.items.push_back(Value(depth + 1));
      } while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.kind = Json::Kind::kString;
      value.text = String();
    } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
      value.kind = Json::Kind::kNumber;
      const std::size_t start = at_++;
      while (at_ < text_.size() &&
             (std::isdigit(static_cast<unsigned char>(text_[at_])) ||
              std::string_view(".eE+-").find(text_[at_]) != std::string_view::npos)) {
        ++at_;
      }
      value.text = std::string(text_.substr(start, at_ - start));
    } else {
      for (const std::string_view word : {"null", "true", "false"}) {
        if (text_.substr(at_, word.size()) == word) {
          at_ += word.size();
          value.kind = word == "null" ? Json::Kind::kNull : Json::Kind::kBool;
          value.text = std::string(word);
          return value;
        }
      }
      Fail("unexpected character");
    }
    return value;
  }

  std::uint32_t Hex4() {
    if (at_ + 4 > text_.size()) Fail("short \\u escape");
    std::uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexDigit(text_[at_++]);
      if (digit < 0) Fail("bad \\u escape");
      code = code * 16 + static_cast<std::uint32_t>(digit);
    }
    return code;
  }

  std::string String() {
    if (at_ >= text_.size() || text_[at_] != '"') Fail("expected a string");
    ++at_;
    std::string out;
    while (true) {
      if (at_ >= text_.size()) Fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) Fail("unterminated escape");
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t code = Hex4();
          if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            const std::uint32_t low = Hex4();
            if (low >= 0xDC00 && low < 0xE000) {
              code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else {
              AppendUtf8(out, 0xFFFD);
              code = low;
            }
          }
          if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;  // a lone surrogate
          AppendUtf8(out, code);
          break;
        }
        case 'x': {
          // Not JSON, but some lsblk versions write a label's bytes so.
          const int high = at_ + 2 <= text_.size() ? HexDigit(text_[at_]) : -1;
          const int low = high >= 0 ? HexDigit(text_[at_ + 1]) : -1;
          if (low < 0) Fail("bad \\x escape");
          out += static_cast<char>(high * 16 + low);
          at_ += 2;
          break;
        }
        default:
          Fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// A string member; empty for null or absent.
std::string Text(const Json& node, std::string_view name) {
  const Json* member = node.Member(name);
  if (member == nullptr || member->kind == Json::Kind::kNull) return {};
  if (member->kind == Json::Kind::kString || member->kind == Json::Kind::kNumber) {
    return member->text;
  }
  throw std::runtime_error("lsblk output unreadable: \"" + std::string(name) + "\" is no text");
}

// The size, a number or (older lsblk) a string of digits.
std::uint64_t Size(const Json& node) {
  const std::string text = Text(node, "size");
  if (text.empty()) return 0;
  std::uint64_t size = 0;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || size > UINT64_MAX / 10) {
      throw std::runtime_error("lsblk output unreadable: size \"" + text + "\"");
    }
    size = size * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return size;
}

// A label as udev keeps it (lsblk passes it on): "\x20" for a space, the
// other unsafe bytes likewise.
std::string UnescapeLabel(const std::string& label) {
  std::string out;
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '\\' && i + 3 < label.size() && label[i + 1] == 'x' &&
        HexDigit(label[i + 2]) >= 0 && HexDigit(label[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(label[i + 2]) * 16 + HexDigit(label[i + 3]));
      i += 3;
    } else {
      out += label[i];
    }
  }
  return out;
}

bool IsWhole(const std::string& type) { return type == "disk" || type == "loop" || type == "rom"; }

void Collect(const Json& node, const std::string& disk, std::vector<BlockDevice>* out) {
  if (node.kind != Json::Kind::kObject) {
    throw std::runtime_error("lsblk output unreadable: a device is no object");
  }
  BlockDevice device;
  device.path = Text(node, "name");
  const std::string type = Text(node, "type");
  device.fstype = Text(node, "fstype");
  device.label = UnescapeLabel(Text(node, "label"));
  device.size = Size(node);
  device.mountpoint = Text(node, "mountpoint");
  if (!disk.empty()) {
    device.disk = disk;
  } else if (IsWhole(type)) {
    device.disk = device.path;
  } else {
    device.disk = Text(node, "pkname");
  }
  const Json* children = node.Member("children");
  const bool has_children = children != nullptr && !children->items.empty();
  // A whole disk is kept only when it holds a file system itself, with no
  // partition table (a USB disk formatted whole); a loop device (the live
  // system's own image) or an optical disc never.
  if (!IsWhole(type) || (type == "disk" && !has_children && !device.fstype.empty())) {
    out->push_back(device);
  }
  if (children == nullptr || children->kind == Json::Kind::kNull) return;
  if (children->kind != Json::Kind::kArray) {
    throw std::runtime_error("lsblk output unreadable: \"children\" is no list");
  }
  for (const Json& child : children->items) Collect(child, device.disk, out);
}

}  // namespace

std::vector<BlockDevice> ParseBlockDevices(std::string_view lsblk_json) {
  const Json document = Reader(lsblk_json).Document();
  const Json* devices = document.Member("blockdevices");
  if (document.kind != Json::Kind::kObject || devices == nullptr ||
      devices->kind != Json::Kind::kArray) {
    throw std::runtime_error("lsblk output unreadable: no \"blockdevices\" list");
  }
  std::vector<BlockDevice> result;
  for (const Json& device : devices->items) Collect(device, {}, &result);
  return result;
}

}  // namespace sorbantilex::rescue
