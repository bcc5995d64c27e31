#include "platform/offline/installation/hive_registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/offline/hive_file/utf16.h"
#include "registry/utf8.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace {

// Whether libhivex can write `name` as a value name: UTF-8 text without
// surrogates. It fails on others, and on some of them it crashes while
// writing the key's values.
bool WritableValueName(std::string_view name) {
  for (std::size_t at = 0; at < name.size();) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(name, at, &code);
    if (length == 0 || (code >= 0xD800 && code <= 0xDFFF)) return false;
    at += length;
  }
  return true;
}

constexpr Status kErrorNotSupported = 50;
constexpr Status kErrorRegistryCorrupt = 1015;
constexpr std::string_view kCurrentControlSet = "CurrentControlSet";

bool IsStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

std::shared_ptr<HiveKey> VirtualKey(std::string name) {
  auto key = std::make_shared<HiveKey>();
  key->name = std::move(name);
  key->children_loaded = true;
  key->values_loaded = true;
  key->closed_to_children = true;
  return key;
}

// Value data as the interface gives it: strings in UTF-8.
std::vector<std::uint8_t> OutwardData(const HiveValue& value) {
  if (!IsStringType(value.type)) return value.data;
  const std::string text = Utf16LeToUtf8(value.data);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace

HiveRegistry::HiveRegistry(const HivePaths& paths, bool for_writing, std::unique_ptr<Hive> software)
    : for_writing_(for_writing) {
  auto open = [&](const std::filesystem::path& path, std::string mount) {
    hives_.push_back(software && mount == "SOFTWARE"
                         ? std::move(software)
                         : Hive::Open(path, std::move(mount), for_writing, paths.within));
    if (const Recovery* recovery = hives_.back()->recovery()) {
      StoreNotice notice;
      notice.hive = hives_.back()->path();
      notice.recovery = *recovery;
      notices_.push_back(std::move(notice));
    }
    return hives_.back().get();
  };
  software_ = open(paths.software, "SOFTWARE");
  system_ = open(paths.system, "SYSTEM");
  local_machine_ = VirtualKey("HKEY_LOCAL_MACHINE");
  local_machine_->children.emplace("SOFTWARE", software_->root());
  local_machine_->children.emplace("SYSTEM", system_->root());
  users_ = VirtualKey("HKEY_USERS");
  std::vector<UserHivePath> users;
  if (!paths.user.empty()) users.push_back({paths.user, paths.user_sid});
  users.insert(users.end(), paths.more_users.begin(), paths.more_users.end());
  for (const UserHivePath& user : users) {
    Hive* hive = open(user.file, user.sid.empty() ? "HKEY_CURRENT_USER" : user.sid);
    users_hives_.push_back(hive);
    if (!user.sid.empty()) users_->children.emplace(UpperName(user.sid), hive->root());
  }
  if (!users_hives_.empty()) user_ = users_hives_.front();
  empty_root_ = VirtualKey("");
}

HiveRegistry::~HiveRegistry() = default;

std::shared_ptr<HiveKey> HiveRegistry::Child(HiveKey& parent, std::string_view name) {
  if (parent.hive != nullptr && !parent.hive->LoadChildren(parent)) return nullptr;
  const auto found = parent.children.find(UpperName(name));
  return found == parent.children.end() ? nullptr : found->second;
}

std::shared_ptr<HiveKey> HiveRegistry::CurrentControlSet() {
  // Every SYSTEM hive Windows starts from names its control set here; one
  // that does not is damaged, and nothing beneath CurrentControlSet can be
  // told absent.
  auto damaged = [&](ErrorKind kind, std::string detail) -> std::shared_ptr<HiveKey> {
    if (!control_set_damage_)
      control_set_damage_.emplace(kind, system_->path(), 0, std::move(detail));
    return nullptr;
  };
  const auto select = Child(*system_->root(), "Select");
  if (!select || !system_->LoadValues(*select)) return damaged(ErrorKind::kDamagedKey, "Select");
  const HiveValue* current = select->FindValue("Current");
  if (current == nullptr || current->type != kRegDword || current->data.size() != 4) {
    return damaged(ErrorKind::kControlSetUnknown, {});
  }
  const std::uint32_t number = current->data[0] | (current->data[1] << 8) |
                               (current->data[2] << 16) |
                               (static_cast<std::uint32_t>(current->data[3]) << 24);
  char name[32];
  std::snprintf(name, sizeof name, "ControlSet%03u", number);
  auto found = Child(*system_->root(), name);
  if (!found) {
    return damaged(ErrorKind::kControlSetUnknown, name);
  }
  return found;
}

std::shared_ptr<HiveKey> HiveRegistry::RootKey(KeyRef root) {
  std::shared_ptr<HiveKey> found;
  switch (root) {
    case kHkeyLocalMachine:
      return local_machine_;
    case kHkeyUsers:
      return users_;
    case kHkeyCurrentUser:
      return user_ != nullptr ? user_->root() : empty_root_;
    case kHkeyClassesRoot:
      found = Child(*software_->root(), "Classes");
      break;
    case kHkeyCurrentConfig:
      if (Walk(system_->root(), "CurrentControlSet\\Hardware Profiles\\Current", &found) !=
          kErrorSuccess) {
        found = nullptr;
      }
      break;
    default:
      break;
  }
  return found ? found : empty_root_;
}

Status HiveRegistry::Resolve(KeyRef key, std::uint32_t needed, std::shared_ptr<HiveKey>* out) {
  if (key == kNullKey) return kErrorInvalidHandle;
  if (IsRootKey(key)) {
    *out = RootKey(key);
    return kErrorSuccess;
  }
  const auto handle = handles_.find(key);
  if (handle == handles_.end()) return kErrorInvalidHandle;
  if (handle->second.key->deleted) return kErrorKeyDeleted;
  if ((handle->second.access & needed) != needed) return kErrorAccessDenied;
  *out = handle->second.key;
  return kErrorSuccess;
}

Status HiveRegistry::Walk(std::shared_ptr<HiveKey> from, std::string_view path,
                          std::shared_ptr<HiveKey>* out) {
  std::vector<std::string_view> parts;
  if (!SplitKeyPath(path, &parts)) return kErrorBadPathname;
  std::shared_ptr<HiveKey> current = std::move(from);
  for (const auto part : parts) {
    std::shared_ptr<HiveKey> next;
    if (current == system_->root() && SameName(part, kCurrentControlSet)) {
      next = CurrentControlSet();
    } else {
      if (current->hive != nullptr && !current->hive->LoadChildren(*current)) {
        return kErrorRegistryCorrupt;
      }
      next = Child(*current, part);
    }
    if (!next) return kErrorFileNotFound;
    current = std::move(next);
  }
  *out = std::move(current);
  return kErrorSuccess;
}

KeyRef HiveRegistry::NewHandle(std::shared_ptr<HiveKey> key, std::uint32_t access) {
  const KeyRef ref = next_handle_;
  next_handle_ += 4;
  handles_[ref] = Handle{std::move(key), access};
  return ref;
}

std::string HiveRegistry::KeyPath(const HiveKey& key) const {
  std::string path = key.name;
  for (const HiveKey* at = key.parent; at != nullptr; at = at->parent)
    path = at->name + "\\" + path;
  return path;
}

bool HiveRegistry::MayRewriteValues(HiveKey& key, std::string_view changed_name,
                                    std::size_t new_size) {
  if (key.hive == nullptr) return true;
  const std::uint32_t minor = key.hive->minor_version();
  const std::string upper = UpperName(changed_name);
  const HiveValue* large = nullptr;
  for (const auto& value : key.values) {
    if (NeedsBigDataRecord(minor, value.data.size()) && UpperName(value.name) != upper)
      large = &value;
  }
  if (large == nullptr && !NeedsBigDataRecord(minor, new_size)) return true;
  const std::string which = large != nullptr ? large->name : std::string(changed_name);
  notices_.push_back({StoreNotice::Kind::kValueNotChanged,
                      key.hive->path(),
                      KeyPath(key),
                      std::string(changed_name),
                      which,
                      {}});
  return false;
}

Status HiveRegistry::OpenKey(KeyRef key, std::string_view subkey, std::uint32_t /*options*/,
                             std::uint32_t access, KeyRef* result) {
  *result = kNullKey;
  std::shared_ptr<HiveKey> base;
  if (const Status status = Resolve(key, 0, &base); status != kErrorSuccess) return status;
  std::shared_ptr<HiveKey> target;
  if (const Status status = Walk(base, subkey, &target); status != kErrorSuccess) return status;
  *result = NewHandle(std::move(target), access);
  return kErrorSuccess;
}

Status HiveRegistry::CreateKey(KeyRef key, std::string_view subkey, std::uint32_t /*options*/,
                               std::uint32_t access, KeyRef* result, std::uint32_t* disposition) {
  *result = kNullKey;
  std::shared_ptr<HiveKey> current;
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
    std::shared_ptr<HiveKey> next;
    if (current == system_->root() && SameName(parts[depth], kCurrentControlSet)) {
      next = CurrentControlSet();
      if (!next) return kErrorAccessDenied;
    } else {
      if (current->hive != nullptr && !current->hive->LoadChildren(*current)) {
        return kErrorRegistryCorrupt;
      }
      next = Child(*current, parts[depth]);
    }
    if (!next) break;
    current = std::move(next);
  }
  const bool creating = depth < parts.size();
  if (creating) {
    if (current->closed_to_children || current->hive == nullptr) return kErrorAccessDenied;
    if (depth == 0 && !handle_may_create) return kErrorAccessDenied;
    for (std::size_t k = depth; k < parts.size(); ++k) {
      if (!IsAscii(parts[k])) {
        notices_.push_back({StoreNotice::Kind::kKeyNotCreated,
                            current->hive->path(),
                            KeyPath(*current),
                            std::string(parts[k]),
                            {},
                            {}});
        return kErrorAccessDenied;
      }
    }
    for (; depth < parts.size(); ++depth) {
      auto child = std::make_shared<HiveKey>();
      child->name = std::string(parts[depth]);
      child->parent = current.get();
      child->hive = current->hive;
      child->children_loaded = true;
      child->values_loaded = true;
      current->children[UpperName(parts[depth])] = child;
      current = std::move(child);
    }
    Hive::MarkChanged(*current);
  }
  if (disposition != nullptr) {
    *disposition = creating ? kRegCreatedNewKey : kRegOpenedExistingKey;
  }
  *result = NewHandle(std::move(current), access);
  return kErrorSuccess;
}

Status HiveRegistry::CloseKey(KeyRef key) {
  if (key == kNullKey) return kErrorInvalidHandle;
  if (IsRootKey(key)) return kErrorSuccess;
  return handles_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

Status HiveRegistry::DeleteKey(KeyRef key, std::string_view subkey) {
  std::shared_ptr<HiveKey> base;
  if (const Status status = Resolve(key, 0, &base); status != kErrorSuccess) return status;
  std::shared_ptr<HiveKey> target;
  if (const Status status = Walk(base, subkey, &target); status != kErrorSuccess) return status;
  if (target->parent == nullptr || target->hive == nullptr) return kErrorAccessDenied;
  if (!target->hive->LoadChildren(*target)) return kErrorRegistryCorrupt;
  if (!target->children.empty()) return kErrorAccessDenied;
  HiveKey& parent = *target->parent;
  target->deleted = true;
  parent.children.erase(UpperName(target->name));
  if (target->origin != 0) parent.removed.push_back(target->origin);
  Hive::MarkChanged(parent);
  return kErrorSuccess;
}

Status HiveRegistry::DeleteValue(KeyRef key, std::string_view name) {
  std::shared_ptr<HiveKey> target;
  if (const Status status = Resolve(key, kKeySetValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (target->hive != nullptr && !target->hive->LoadValues(*target)) return kErrorRegistryCorrupt;
  const auto upper = UpperName(name);
  const auto found =
      std::find_if(target->values.begin(), target->values.end(),
                   [&](const auto& value) { return UpperName(value.name) == upper; });
  if (found == target->values.end()) return kErrorFileNotFound;
  if (!MayRewriteValues(*target, name, 0)) return kErrorNotSupported;
  target->values.erase(found);
  target->values_changed = true;
  Hive::MarkChanged(*target);
  return kErrorSuccess;
}

Status HiveRegistry::FindStored(KeyRef key, std::string_view name, bool bad_parameter,
                                const HiveValue** value) {
  std::shared_ptr<HiveKey> target;
  if (const Status status = Resolve(key, kKeyQueryValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (bad_parameter) return kErrorInvalidParameter;
  if (target->hive != nullptr && !target->hive->LoadValues(*target)) return kErrorRegistryCorrupt;
  *value = target->FindValue(name);
  return *value != nullptr ? kErrorSuccess : kErrorFileNotFound;
}

Status HiveRegistry::QueryValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) {
  const HiveValue* value = nullptr;
  if (const Status status = FindStored(key, name, data != nullptr && size == nullptr, &value);
      status != kErrorSuccess) {
    return status;
  }
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return kErrorSuccess;
  const auto outward = OutwardData(*value);
  const auto needed = static_cast<std::uint32_t>(outward.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, outward.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

Status HiveRegistry::QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                      std::vector<std::uint8_t>* data) {
  const HiveValue* value = nullptr;
  if (const Status status = FindStored(key, name, false, &value); status != kErrorSuccess) {
    return status;
  }
  if (type != nullptr) *type = value->type;
  if (data != nullptr) *data = value->data;
  return kErrorSuccess;
}

Status HiveRegistry::SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                              std::span<const std::uint8_t> data) {
  // As the live registry answers a name that is no text.
  if (!WritableValueName(name)) return kErrorInvalidParameter;
  std::shared_ptr<HiveKey> target;
  if (const Status status = Resolve(key, kKeySetValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (target->hive == nullptr) return kErrorAccessDenied;
  if (Utf16Units(name) > kMaxValueNameLength) return kErrorInvalidParameter;
  if (!target->hive->LoadValues(*target)) return kErrorRegistryCorrupt;
  std::vector<std::uint8_t> stored =
      IsStringType(type)
          ? Utf8ToUtf16Le(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()))
          : std::vector<std::uint8_t>(data.begin(), data.end());
  if (!MayRewriteValues(*target, name, stored.size())) return kErrorNotSupported;
  if (HiveValue* value = target->FindValue(name)) {
    value->type = type;
    value->data = std::move(stored);
  } else {
    target->values.push_back(HiveValue{std::string(name), type, std::move(stored)});
  }
  target->values_changed = true;
  Hive::MarkChanged(*target);
  return kErrorSuccess;
}

Status HiveRegistry::QueryInfoKey(KeyRef key, std::uint32_t* subkeys,
                                  std::uint32_t* max_subkey_len) {
  std::shared_ptr<HiveKey> target;
  if (const Status status = Resolve(key, kKeyQueryValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (target->hive != nullptr && !target->hive->LoadChildren(*target)) return kErrorRegistryCorrupt;
  std::size_t longest = 0;
  for (const auto& [upper, child] : target->children)
    longest = std::max(longest, child->name.size());
  if (subkeys != nullptr) *subkeys = static_cast<std::uint32_t>(target->children.size());
  if (max_subkey_len != nullptr) *max_subkey_len = static_cast<std::uint32_t>(longest);
  return kErrorSuccess;
}

Status HiveRegistry::EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) {
  std::shared_ptr<HiveKey> target;
  if (const Status status = Resolve(key, kKeyEnumerateSubKeys, &target); status != kErrorSuccess) {
    return status;
  }
  if (name == nullptr || name_len == nullptr) return kErrorInvalidParameter;
  if (target->hive != nullptr && !target->hive->LoadChildren(*target)) return kErrorRegistryCorrupt;
  if (index >= target->children.size()) return kErrorNoMoreItems;
  const auto& child = std::next(target->children.begin(), index)->second;
  if (*name_len <= child->name.size()) return kErrorMoreData;
  std::memcpy(name, child->name.data(), child->name.size());
  name[child->name.size()] = '\0';
  *name_len = static_cast<std::uint32_t>(child->name.size());
  return kErrorSuccess;
}

Status HiveRegistry::EnumValue(KeyRef key, std::uint32_t index, std::string* name,
                               std::uint32_t* type, std::vector<std::uint8_t>* data) {
  std::shared_ptr<HiveKey> target;
  if (const Status status = Resolve(key, kKeyQueryValue, &target); status != kErrorSuccess) {
    return status;
  }
  if (target->hive != nullptr && !target->hive->LoadValues(*target)) return kErrorRegistryCorrupt;
  if (index >= target->values.size()) return kErrorNoMoreItems;
  const HiveValue& value = target->values[index];
  if (name != nullptr) *name = value.name;
  if (type != nullptr) *type = value.type;
  if (data != nullptr) *data = OutwardData(value);
  return kErrorSuccess;
}

std::vector<std::filesystem::path> HiveRegistry::ChangedHives() const {
  std::vector<std::filesystem::path> changed;
  for (const auto& hive : hives_) {
    if (hive->changed()) changed.push_back(hive->path());
  }
  return changed;
}

std::optional<Error> HiveRegistry::Damage() const {
  for (const auto& hive : hives_) {
    if (!hive->damaged_keys().empty()) {
      return Error(ErrorKind::kDamagedKey, hive->path(), 0, hive->damaged_keys().front());
    }
  }
  if (control_set_damage_) return *control_set_damage_;
  return std::nullopt;
}

CommitReport HiveRegistry::Commit(const CommitHooks& hooks,
                                  std::vector<std::unique_ptr<PendingFile>> more) {
  CommitReport report;
  if (auto damage = Damage()) {
    report.errors.push_back(std::move(*damage));
    return report;
  }
  if (!for_writing_) return report;
  std::vector<std::unique_ptr<PendingFile>> files;
  for (const auto& hive : hives_) {
    if (hive->changed()) files.push_back(hive->Pending());
  }
  for (auto& file : more) files.push_back(std::move(file));
  return CommitFiles(std::move(files), hooks);
}

}  // namespace sorbantilex::offline
