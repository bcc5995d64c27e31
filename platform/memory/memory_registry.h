#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_api.h"

namespace sorbantilex {

/// A whole key as a test sees it: its values in the order first written,
/// its subkeys in enumeration order.
struct KeySnapshot {
  struct Value {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    friend bool operator==(const Value&, const Value&) = default;
  };
  std::string name;
  std::vector<Value> values;
  std::vector<KeySnapshot> subkeys;
  friend bool operator==(const KeySnapshot&, const KeySnapshot&) = default;
};

/// An in-memory registry with the semantics of Windows:
/// - names case-insensitive and case-preserving, for keys and values;
/// - subkeys enumerated in ascending order of their upper-cased names;
/// - value data stored byte-exact;
/// - creating a path creates the missing keys on it; no key can be created
///   directly under HKEY_LOCAL_MACHINE or HKEY_USERS;
/// - a key with subkeys, and a root, cannot be deleted (5);
/// - a handle to a key deleted since answers 1018; the null handle 6;
/// - a handle only does what its access mask allows (5 otherwise).
/// HKEY_LOCAL_MACHINE starts with the keys SOFTWARE and SYSTEM.
class MemoryRegistry final : public RegistryApi {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override;
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override;
  Status CloseKey(KeyRef key) override;
  Status DeleteKey(KeyRef key, std::string_view subkey) override;
  Status DeleteValue(KeyRef key, std::string_view name) override;
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override;
  Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len) override;
  Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) override;
  Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                   std::vector<std::uint8_t>* data) override;

  /// Tests: refuse every open of an existing key (5), as an ACL without read
  /// rights would.
  void DenyOpen(KeyRef root, std::string_view path);
  /// Tests: refuse writing to an existing key: opening it with any write
  /// right, creating subkeys under it, deleting it (5). Reading still works.
  void DenyWrite(KeyRef root, std::string_view path);

  /// Tests: the whole key, or nullopt when it does not exist.
  std::optional<KeySnapshot> Snapshot(KeyRef root, std::string_view path) const;
  /// Number of handles open now (roots excluded).
  std::size_t OpenHandles() const { return handles_.size(); }

 private:
  struct Key;
  struct Handle {
    std::shared_ptr<Key> key;
    std::uint32_t access = 0;
  };

  Status Resolve(KeyRef key, std::uint32_t needed, std::shared_ptr<Key>* out) const;
  static Status Walk(const std::shared_ptr<Key>& from, std::string_view path,
                     std::shared_ptr<Key>* out);
  std::shared_ptr<Key> Find(KeyRef root, std::string_view path) const;
  KeyRef NewHandle(std::shared_ptr<Key> key, std::uint32_t access);

  std::map<KeyRef, std::shared_ptr<Key>> roots_;
  std::map<KeyRef, Handle> handles_;
  KeyRef next_handle_ = 0x100;
};

}  // namespace sorbantilex
