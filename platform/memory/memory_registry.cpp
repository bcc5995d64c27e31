#include "platform/memory/memory_registry.h"

#include <algorithm>
#include <cstring>

#include "registry/key_names.h"
#include "registry/utf8.h"

namespace sorbantilex {

namespace {

// Rights that change a key: set value, create subkey, create link, DELETE,
// WRITE_DAC, WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE, MAXIMUM_ALLOWED.
constexpr std::uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey | kKeyCreateLink |
                                       kKeyDelete | 0x40000 | 0x80000 | 0x10000000 | 0x40000000 |
                                       0x02000000;

}  // namespace

struct MemoryRegistry::Key {
  std::string name;
  bool is_root = false;
  bool closed_to_children = false;  // HKLM and HKU: no key is created directly beneath
  bool deny_open = false;
  bool deny_write = false;
  bool deleted = false;
  Key* parent = nullptr;  // not owning; a key with children is never deleted
  std::map<std::string, std::shared_ptr<Key>> subkeys;  // by upper-cased name
  std::vector<KeySnapshot::Value> values;

  KeySnapshot::Value* FindValue(std::string_view value_name) {
    const auto upper = UpperName(value_name);
    for (auto& value : values) {
      if (UpperName(value.name) == upper) return &value;
    }
    return nullptr;
  }
};

MemoryRegistry::MemoryRegistry() {
  const std::pair<KeyRef, const char*> roots[] = {{kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
                                                  {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
                                                  {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
                                                  {kHkeyUsers, "HKEY_USERS"},
                                                  {kHkeyPerformanceData, "HKEY_PERFORMANCE_DATA"},
                                                  {kHkeyCurrentConfig, "HKEY_CURRENT_CONFIG"},
                                                  {kHkeyDynData, "HKEY_DYN_DATA"}};
  for (const auto& [ref, name] : roots) {
    auto key = std::make_shared<Key>();
    key->name = name;
    key->is_root = true;
    key->closed_to_children = ref == kHkeyLocalMachine || ref == kHkeyUsers;
    roots_[ref] = key;
  }
  for (const char* hive : {"SOFTWARE", "SYSTEM"}) {
    auto key = std::make_shared<Key>();
    key->name = hive;
    key->parent = roots_[kHkeyLocalMachine].get();
    roots_[kHkeyLocalMachine]->subkeys[hive] = key;
  }
}

MemoryRegistry::~MemoryRegistry() = default;

Status MemoryRegistry::Resolve(KeyRef key, std::uint32_t needed, std::shared_ptr<Key>* out) const {
  if (key == kNullKey) return kErrorInvalidHandle;
  if (const auto root = roots_.find(key); root != roots_.end()) {
    *out = root->second;
    return kErrorSuccess;
  }
  const auto handle = handles_.find(key);
  if (handle == handles_.end()) return kErrorInvalidHandle;
  if (handle->second.key->deleted) return kErrorKeyDeleted;
  if ((handle->second.access & needed) != needed) return kErrorAccessDenied;
  *out = handle->second.key;
  return kErrorSuccess;
}

Status MemoryRegistry::Walk(const std::shared_ptr<Key>& from, std::string_view path,
                            std::shared_ptr<Key>* out) {
  std::vector<std::string_view> parts;
  if (!SplitKeyPath(path, &parts)) return kErrorBadPathname;
  std::shared_ptr<Key> current = from;
  for (const auto part : parts) {
    const auto child = current->subkeys.find(UpperName(part));
    if (child == current->subkeys.end()) return kErrorFileNotFound;
    current = child->second;
  }
  *out = current;
  return kErrorSuccess;
}

KeyRef MemoryRegistry::NewHandle(std::shared_ptr<Key> key, std::uint32_t access) {
  const KeyRef ref = next_handle_;
  next_handle_ += 4;
  handles_[ref] = Handle{std::move(key), access};
  return ref;
}

Status MemoryRegistry::OpenKey(KeyRef key, std::string_view subkey, std::uint32_t /*options*/,
                               std::uint32_t access, KeyRef* result) {
  *result = kNullKey;
  std::shared_ptr<Key> base;
  if (const Status status = Resolve(key, 0, &base); status != kErrorSuccess) return status;
  std::shared_ptr<Key> target;
  if (const Status status = Walk(base, subkey, &target); status != kErrorSuccess) return status;
  if (target->deny_open) return kErrorAccessDenied;
  if (target->deny_write && (access & kWriteRights) != 0) return kErrorAccessDenied;
  *result = NewHandle(std::move(target), access);
  return kErrorSuccess;
}

Status MemoryRegistry::CreateKey(KeyRef key, std::string_view subkey, std::uint32_t /*options*/,
                                 std::uint32_t access, KeyRef* result, std::uint32_t* disposition) {
  *result = kNullKey;
  std::shared_ptr<Key> current;
  if (const Status status = Resolve(key, 0, &current); status != kErrorSuccess) return status;
  const bool handle_may_create = IsRootKey(key) || (handles_.at(key).access & kKeyCreateSubKey);

  std::vector<std::string_view> parts;
  if (!SplitKeyPath(subkey, &parts)) return kErrorBadPathname;
  for (const auto part : parts) {
    if (Utf16Units(part) > kMaxKeyNameLength) return kErrorInvalidParameter;
  }

  // Everything is checked before anything is created, so a refusal leaves
  // no partial path behind.
  std::size_t depth = 0;
  for (; depth < parts.size(); ++depth) {
    const auto child = current->subkeys.find(UpperName(parts[depth]));
    if (child == current->subkeys.end()) break;
    current = child->second;
  }
  const bool creating = depth < parts.size();
  if (creating) {
    if (current->closed_to_children || current->deny_write) return kErrorAccessDenied;
    if (depth == 0 && !handle_may_create) return kErrorAccessDenied;
    for (; depth < parts.size(); ++depth) {
      auto child = std::make_shared<Key>();
      child->name = std::string(parts[depth]);
      child->parent = current.get();
      current->subkeys[UpperName(parts[depth])] = child;
      current = child;
    }
  } else {
    if (current->deny_open) return kErrorAccessDenied;
    if (current->deny_write && (access & kWriteRights) != 0) return kErrorAccessDenied;
  }
  if (disposition != nullptr) {
    *disposition = creating ? kRegCreatedNewKey : kRegOpenedExistingKey;
  }
  *result = NewHandle(std::move(current), access);
  return kErrorSuccess;
}

Status MemoryRegistry::CloseKey(KeyRef key) {
  if (key == kNullKey) return kErrorInvalidHandle;
  if (roots_.contains(key)) return kErrorSuccess;
  return handles_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

Status MemoryRegistry::DeleteKey(KeyRef key, std::string_view subkey) {
  std::shared_ptr<Key> base;
  if (const Status status = Resolve(key, 0, &base); status != kErrorSuccess) return status;
  std::shared_ptr<Key> target;
  if (const Status status = Walk(base, subkey, &target); status != kErrorSuccess) return status;
  if (target->is_root || target->parent == nullptr) return kErrorAccessDenied;
  if (target->deny_open || target->deny_write) return kErrorAccessDenied;
  if (!target->subkeys.empty()) return kErrorAccessDenied;
  target->deleted = true;
  target->parent->subkeys.erase(UpperName(target->name));
  return kErrorSuccess;
}

Status MemoryRegistry::DeleteValue(KeyRef key, std::string_view name) {
  std::shared_ptr<Key> target;
  if (const Status status = Resolve(key, kKeySetValue, &target); status != kErrorSuccess) {
    return status;
  }
  const auto upper = UpperName(name);
  const auto found =
      std::find_if(target->values.begin(), target->values.end(),
                   [&](const auto& value) { return UpperName(value.name) == upper; });
  if (found == target->values.end()) return kErrorFileNotFound;
  target->values.erase(found);
  return kErrorSuccess;
}

Status MemoryRegistry::QueryValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) {
  std::shared_ptr<Key> target;
  if (const Status status = Resolve(key, kKeyQueryValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  const auto* value = target->FindValue(name);
  if (value == nullptr) return kErrorFileNotFound;
  if (type != nullptr) *type = value->type;
  const auto needed = static_cast<std::uint32_t>(value->data.size());
  if (size == nullptr) return kErrorSuccess;
  if (data != nullptr && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, value->data.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

Status MemoryRegistry::SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                                std::span<const std::uint8_t> data) {
  std::shared_ptr<Key> target;
  if (const Status status = Resolve(key, kKeySetValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (Utf16Units(name) > kMaxValueNameLength) return kErrorInvalidParameter;
  if (auto* value = target->FindValue(name)) {
    value->type = type;
    value->data.assign(data.begin(), data.end());
  } else {
    target->values.push_back({std::string(name), type, {data.begin(), data.end()}});
  }
  return kErrorSuccess;
}

Status MemoryRegistry::QueryInfoKey(KeyRef key, std::uint32_t* subkeys,
                                    std::uint32_t* max_subkey_len) {
  std::shared_ptr<Key> target;
  if (const Status status = Resolve(key, kKeyQueryValue, &target); status != kErrorSuccess) {
    return status;
  }
  std::size_t longest = 0;
  for (const auto& [upper, child] : target->subkeys)
    longest = std::max(longest, child->name.size());
  if (subkeys != nullptr) *subkeys = static_cast<std::uint32_t>(target->subkeys.size());
  if (max_subkey_len != nullptr) *max_subkey_len = static_cast<std::uint32_t>(longest);
  return kErrorSuccess;
}

Status MemoryRegistry::EnumKey(KeyRef key, std::uint32_t index, char* name,
                               std::uint32_t* name_len) {
  std::shared_ptr<Key> target;
  if (const Status status = Resolve(key, kKeyEnumerateSubKeys, &target); status != kErrorSuccess) {
    return status;
  }
  if (name == nullptr || name_len == nullptr) return kErrorInvalidParameter;
  if (index >= target->subkeys.size()) return kErrorNoMoreItems;
  const auto& child = std::next(target->subkeys.begin(), index)->second;
  if (*name_len <= child->name.size()) return kErrorMoreData;
  std::memcpy(name, child->name.data(), child->name.size());
  name[child->name.size()] = '\0';
  *name_len = static_cast<std::uint32_t>(child->name.size());
  return kErrorSuccess;
}

Status MemoryRegistry::EnumValue(KeyRef key, std::uint32_t index, std::string* name,
                                 std::uint32_t* type, std::vector<std::uint8_t>* data) {
  std::shared_ptr<Key> target;
  if (const Status status = Resolve(key, kKeyQueryValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (index >= target->values.size()) return kErrorNoMoreItems;
  const KeySnapshot::Value& value = target->values[index];
  if (name != nullptr) *name = value.name;
  if (type != nullptr) *type = value.type;
  if (data != nullptr) *data = value.data;
  return kErrorSuccess;
}

std::shared_ptr<MemoryRegistry::Key> MemoryRegistry::Find(KeyRef root,
                                                          std::string_view path) const {
  const auto base = roots_.find(root);
  if (base == roots_.end()) return nullptr;
  std::shared_ptr<Key> target;
  if (Walk(base->second, path, &target) != kErrorSuccess) return nullptr;
  return target;
}

void MemoryRegistry::DenyOpen(KeyRef root, std::string_view path) {
  if (auto key = Find(root, path)) key->deny_open = true;
}

void MemoryRegistry::DenyWrite(KeyRef root, std::string_view path) {
  if (auto key = Find(root, path)) key->deny_write = true;
}

std::optional<KeySnapshot> MemoryRegistry::Snapshot(KeyRef root, std::string_view path) const {
  const auto key = Find(root, path);
  if (!key) return std::nullopt;
  KeySnapshot snapshot{key->name, key->values, {}};
  for (const auto& [upper, child] : key->subkeys) {
    snapshot.subkeys.push_back(
        *Snapshot(root, std::string(path) + (path.empty() ? "" : "\\") + child->name));
  }
  return snapshot;
}

}  // namespace sorbantilex
