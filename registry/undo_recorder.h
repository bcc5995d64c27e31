#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_file.h"
#include "registry/registry_api.h"

namespace sorbantilex {

/// Passes every call on to the registry it wraps and, before each call that
/// changes something, notes how the keys and values it touches stood before
/// the run, so that the run can be taken back with a registry file:
/// - a key the run deleted comes back whole (every value, every subkey, the
///   names spelt as they were);
/// - a key the run created is removed, with whatever was put in it;
/// - a value the run overwrote gets its old type and data back, a value it
///   created is removed, a value it deleted comes back.
/// Keys and values the run only read, and calls the registry refused, leave
/// no trace. Only the first change of a key or value counts: its state then
/// is its state before the run.
///
/// Paths are noted as the caller spelt them, below the root key it named;
/// a key that existed keeps the spelling of its own name.
class UndoRecorder final : public RegistryApi {
 public:
  explicit UndoRecorder(RegistryApi& inner) : inner_(inner) {}

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override;
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override;
  Status CloseKey(KeyRef key) override;
  Status DeleteKey(KeyRef key, std::string_view subkey) override;
  Status DeleteValue(KeyRef key, std::string_view name) override;
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override;
  Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len) override {
    return inner_.QueryInfoKey(key, subkeys, max_subkey_len);
  }
  Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) override {
    return inner_.EnumKey(key, index, name, name_len);
  }
  Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                   std::vector<std::uint8_t>* data) override {
    return inner_.EnumValue(key, index, name, type, data);
  }

  /// True while the run has changed nothing that a registry file restores.
  bool empty() const;
  /// The key sections that restore the state before the run: the removals
  /// first, then each key to restore after the keys above it.
  std::vector<RegFileKey> UndoKeys() const;
  /// `UndoKeys` as the bytes of a registry file (see `RegFileBytes`).
  std::vector<std::uint8_t> UndoFile() const { return RegFileBytes(UndoKeys()); }

 private:
  // A key below a root: the root and the path's components.
  struct Location {
    KeyRef root = kNullKey;
    std::vector<std::string> parts;
  };
  struct Record {
    Location location;
    bool existed = false;                        // before the run
    bool deleted = false;                        // by the run, at some point
    std::vector<RegFileValue> values;            // before the run, when it existed
    std::map<std::string, std::string> touched;  // changed values: upper-cased name, name
  };

  bool Locate(KeyRef key, std::string_view subkey, Location* location) const;
  static std::string Id(const Location& location);
  Status Open(const Location& location, std::uint32_t access, KeyRef* result);
  /// False only when the key is missing (a key that refuses to open is
  /// there).
  bool Exists(const Location& location);
  /// The record of a key that exists, made on its first change with the
  /// key's own spelling and its values.
  Record& Existing(const Location& location);
  /// Before a value of the key behind `key` is changed: its record, and
  /// whether it was made just now.
  Record* BeforeValueChange(KeyRef key, bool* fresh);
  std::string PathOf(const Record& record) const;

  RegistryApi& inner_;
  std::map<KeyRef, Location> handles_;
  std::map<std::string, Record> records_;  // by Id
};

}  // namespace sorbantilex
