#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/registry_api.h"

namespace sorbantilex {

/// One value line of a registry file: the value set to its type and data, or
/// removed (`"name"=-`). The empty name is the key's default value (`@`).
/// Data is as `RegistryApi` carries it: UTF-8 text for types 1, 2 and 7,
/// bytes for the rest.
struct RegFileValue {
  RegFileValue() = default;
  RegFileValue(std::string name, bool remove, std::uint32_t type, std::vector<std::uint8_t> data)
      : name(std::move(name)), remove(remove), type(type), data(std::move(data)) {}

  std::string name;
  bool remove = false;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  /// For types 1, 2 and 7, the UTF-16LE bytes the store keeps, when known:
  /// written as they are where the text would not give them back (an odd
  /// length, which no text stands for).
  std::optional<std::vector<std::uint8_t>> stored;
};

/// One key section of a registry file: `[-PATH]` removes the key with
/// everything beneath it; `[PATH]` creates it where it is missing and sets
/// or removes the values listed under it. The path is a full Windows path
/// ("HKEY_LOCAL_MACHINE\SOFTWARE\...").
struct RegFileKey {
  std::string path;
  bool remove = false;
  std::vector<RegFileValue> values;
};

/// The long name of a root key ("HKEY_LOCAL_MACHINE"); empty for a handle.
std::string_view RootKeyName(KeyRef root);

/// The text of a registry file that Windows' regedit imports, in UTF-8 with
/// CRLF line ends: the "Windows Registry Editor Version 5.00" line, then
/// each key section in order, each followed by an empty line.
///
/// Values are written so that an import stores exactly the data they hold:
/// a REG_SZ as quoted text only when it is one NUL-terminated text without
/// line breaks (the form regedit stores with a terminator), a REG_DWORD of
/// four bytes as `dword:`, a REG_BINARY as `hex:`, every other type and
/// every other REG_SZ as `hex(N):` with the bytes Windows keeps (strings in
/// UTF-16LE). Quotes and backslashes in names and text are escaped.
///
/// Names regedit cannot read back: a line ends at a CR or LF and a text at
/// a zero, wherever they stand, and the format has no escape for either. A
/// key whose path holds one is left out, with every section beneath it; so
/// is a value whose name holds one. A comment line stands in its place
/// ("; Se omite la clave [...]", "; Se omite el valor "...""), so that no
/// line of the file ever starts with text from a name or from data.
///
/// `omitted`, when given, receives one entry for each name left out, in the
/// order of the file, for the front ends to report: a key as
/// `[HKEY_...\PATH]`, a value as `[HKEY_...\PATH] "NAME"`. Each is one line:
/// zeros, control characters, line and paragraph separators, lone
/// surrogates and bytes that are no UTF-8 are written as escapes ("\0",
/// "\r", "\n", "\t", "\x1b", "\u{2028}"), and in a value name quotes and
/// backslashes are escaped as in the file (`\"`, `\\`). An empty list means
/// that the file restores everything it was given.
std::string RegFileText(std::span<const RegFileKey> keys,
                        std::vector<std::string>* omitted = nullptr);

/// `RegFileText` as the file is stored: UTF-16LE with a byte-order mark;
/// `omitted` as there.
std::vector<std::uint8_t> RegFileBytes(std::span<const RegFileKey> keys,
                                       std::vector<std::string>* omitted = nullptr);

}  // namespace sorbantilex
