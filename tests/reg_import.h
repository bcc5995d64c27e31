#pragma once

// A small importer of registry files for the tests: what Windows' regedit
// does with the forms the undo file uses ([-KEY], [KEY], @ and quoted
// names, "-", quoted text, dword:, hex:, hex(N):, continued hex lines,
// ";" comments).

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/key_names.h"
#include "registry/reg_file.h"
#include "registry/registry_api.h"
#include "registry/utf8.h"

namespace sorbantilex {

namespace reg_import {

inline void DeleteTree(RegistryApi& registry, KeyRef root, const std::string& path) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(root, path, 0, kKeyRead, &key) != kErrorSuccess) return;
  std::vector<std::string> children;
  std::array<char, 1024> name{};
  for (std::uint32_t i = 0;; ++i) {
    auto length = static_cast<std::uint32_t>(name.size());
    if (registry.EnumKey(key, i, name.data(), &length) != kErrorSuccess) break;
    children.emplace_back(name.data(), length);
  }
  registry.CloseKey(key);
  for (const auto& child : children) DeleteTree(registry, root, path + "\\" + child);
  registry.DeleteKey(root, path);
}

// Reads a quoted text starting at `at` (on the opening quote); gives the
// position after the closing quote, or npos.
inline std::size_t Unquote(std::string_view line, std::size_t at, std::string* out) {
  if (at >= line.size() || line[at] != '"') return std::string_view::npos;
  out->clear();
  for (std::size_t i = at + 1; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      *out += line[++i];
    } else if (line[i] == '"') {
      return i + 1;
    } else {
      *out += line[i];
    }
  }
  return std::string_view::npos;
}

inline bool HexBytes(std::string_view list, std::vector<std::uint8_t>* out) {
  out->clear();
  std::size_t i = 0;
  while (i < list.size()) {
    if (i + 2 > list.size()) return false;
    out->push_back(
        static_cast<std::uint8_t>(std::stoul(std::string(list.substr(i, 2)), nullptr, 16)));
    i += 2;
    if (i < list.size() && list[i++] != ',') return false;
  }
  return true;
}

}  // namespace reg_import

/// Applies a registry file (UTF-16LE with its byte-order mark, CRLF lines)
/// to `registry`. Gives "" when every line was understood and applied, else
/// what went wrong.
inline std::string ImportRegFile(RegistryApi& registry, std::span<const std::uint8_t> bytes) {
  using namespace reg_import;
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return "no byte-order mark";
  const std::string text = Utf16LeToUtf8(bytes.subspan(2));
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return "a line without CRLF at the end";
    std::string line = text.substr(start, end - start);
    if (line.find('\n') != std::string::npos) return "a bare LF";
    start = end + 2;
    if (!lines.empty() && lines.back().ends_with(",\\")) {
      lines.back().pop_back();
      lines.back() += line.substr(line.find_first_not_of(' '));
    } else {
      lines.push_back(std::move(line));
    }
  }
  if (lines.empty() || lines[0] != "Windows Registry Editor Version 5.00") return "no header";

  KeyRef current = kNullKey;
  const auto close = [&] {
    if (current != kNullKey) registry.CloseKey(current);
    current = kNullKey;
  };
  for (std::size_t n = 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      close();
      if (line.back() != ']') return "bad key line: " + line;
      const bool remove = line[1] == '-';
      const std::string full = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
      const std::size_t slash = full.find('\\');
      const std::string root_name = full.substr(0, slash);
      KeyRef root = kNullKey;
      for (KeyRef r = kHkeyClassesRoot; r <= kHkeyDynData; ++r) {
        if (RootKeyName(r) == root_name) root = r;
      }
      if (root == kNullKey || slash == std::string::npos) return "bad key path: " + full;
      const std::string path = full.substr(slash + 1);
      if (remove) {
        DeleteTree(registry, root, path);
      } else if (registry.CreateKey(root, path, 0, kRegistroAccess, &current, nullptr) !=
                 kErrorSuccess) {
        return "cannot create " + full;
      }
      continue;
    }
    if (current == kNullKey) return "a value outside a key: " + line;
    std::string name;
    std::size_t at = 0;
    if (line.front() == '@') {
      at = 1;
    } else {
      at = Unquote(line, 0, &name);
      if (at == std::string::npos) return "bad value name: " + line;
    }
    if (at >= line.size() || line[at] != '=') return "no '=': " + line;
    const std::string_view data = std::string_view(line).substr(at + 1);
    Status status = kErrorSuccess;
    if (data == "-") {
      status = registry.DeleteValue(current, name);
      if (status == kErrorFileNotFound) status = kErrorSuccess;
    } else if (data.front() == '"') {
      std::string value;
      if (Unquote(data, 0, &value) != data.size()) return "bad text: " + line;
      value += '\0';
      status =
          registry.SetValue(current, name, kRegSz,
                            {reinterpret_cast<const std::uint8_t*>(value.data()), value.size()});
    } else if (data.starts_with("dword:") && data.size() == 14) {
      const auto number =
          static_cast<std::uint32_t>(std::stoul(std::string(data.substr(6)), nullptr, 16));
      const std::uint8_t four[] = {
          static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
      status = registry.SetValue(current, name, kRegDword, four);
    } else if (data.starts_with("hex")) {
      std::uint32_t type = kRegBinary;
      std::size_t colon = data.find(':');
      if (colon == std::string_view::npos) return "bad hex: " + line;
      if (data[3] == '(') type = std::stoul(std::string(data.substr(4, colon - 5)), nullptr, 16);
      std::vector<std::uint8_t> value;
      if (!HexBytes(data.substr(colon + 1), &value)) return "bad hex list: " + line;
      if (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz) {
        const std::string utf8 = Utf16LeToUtf8(value);
        value.assign(utf8.begin(), utf8.end());
      }
      status = registry.SetValue(current, name, type, value);
    } else {
      return "unknown data: " + line;
    }
    if (status != kErrorSuccess) return "status " + std::to_string(status) + ": " + line;
  }
  close();
  return "";
}

}  // namespace sorbantilex
