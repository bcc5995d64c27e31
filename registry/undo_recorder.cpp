#include "registry/undo_recorder.h"

#include <algorithm>
#include <array>
#include <optional>

#include "registry/key_names.h"

namespace sorbantilex {
namespace {

// Enumerations stop here at the latest, whatever the store claims.
constexpr std::uint32_t kMaxEnumerated = 1u << 20;

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) path += '\\';
    path += parts[i];
  }
  return path;
}

}  // namespace

bool UndoRecorder::Locate(KeyRef key, std::string_view subkey, Location* location) const {
  if (IsRootKey(key)) {
    *location = Location{key, {}};
  } else if (const auto found = handles_.find(key); found != handles_.end()) {
    *location = found->second;
  } else {
    return false;
  }
  std::vector<std::string_view> parts;
  if (!subkey.empty()) {
    if (!SplitKeyPath(subkey, &parts)) return false;
  }
  for (const std::string_view part : parts) location->parts.emplace_back(part);
  return true;
}

std::string UndoRecorder::Id(const Location& location) {
  std::string id = std::to_string(location.root);
  for (const std::string& part : location.parts) id += "\\" + UpperName(part);
  return id;
}

Status UndoRecorder::Open(const Location& location, std::uint32_t access, KeyRef* result) {
  if (location.parts.empty()) {
    *result = location.root;
    return kErrorSuccess;
  }
  return inner_.OpenKey(location.root, Join(location.parts, location.parts.size()), 0, access,
                        result);
}

bool UndoRecorder::Exists(const Location& location) {
  KeyRef key = kNullKey;
  const Status status = Open(location, kKeyQueryValue, &key);
  if (status == kErrorSuccess) inner_.CloseKey(key);
  return status != kErrorFileNotFound;
}

UndoRecorder::Record& UndoRecorder::Existing(const Location& location) {
  const std::string id = Id(location);
  if (const auto found = records_.find(id); found != records_.end()) return found->second;
  Record& record = records_[id];
  record.location = location;
  record.existed = true;

  // The key's own name as it is stored, from its parent's list.
  Location parent = location;
  parent.parts.pop_back();
  KeyRef key = kNullKey;
  if (Open(parent, kKeyEnumerateSubKeys, &key) == kErrorSuccess) {
    std::array<char, 1024> name{};
    for (std::uint32_t i = 0; i < kMaxEnumerated; ++i) {
      auto length = static_cast<std::uint32_t>(name.size());
      const Status status = inner_.EnumKey(key, i, name.data(), &length);
      if (status == kErrorMoreData) continue;
      if (status != kErrorSuccess) break;
      const std::string_view found(name.data(), length);
      if (SameName(found, location.parts.back())) {
        record.location.parts.back() = std::string(found);
        break;
      }
    }
    inner_.CloseKey(key);
  }

  if (Open(location, kKeyQueryValue, &key) == kErrorSuccess) {
    for (std::uint32_t i = 0; i < kMaxEnumerated; ++i) {
      RegFileValue value;
      if (inner_.EnumValue(key, i, &value.name, &value.type, &value.data) != kErrorSuccess) break;
      record.values.push_back(std::move(value));
    }
    inner_.CloseKey(key);
  }
  return record;
}

Status UndoRecorder::OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                             std::uint32_t access, KeyRef* result) {
  const Status status = inner_.OpenKey(key, subkey, options, access, result);
  Location location;
  if (status == kErrorSuccess && Locate(key, subkey, &location)) handles_[*result] = location;
  return status;
}

Status UndoRecorder::CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                               std::uint32_t access, KeyRef* result, std::uint32_t* disposition) {
  Location location;
  const bool located = Locate(key, subkey, &location) && !location.parts.empty();
  // The shallowest key of the path that is missing: the one to remove.
  std::optional<Location> created;
  if (located && !Exists(location)) {
    Location shallowest = location;
    for (std::size_t length = location.parts.size() - 1; length > 0; --length) {
      Location above{location.root, {location.parts.begin(), location.parts.begin() + length}};
      if (Exists(above)) break;
      shallowest = std::move(above);
    }
    created = std::move(shallowest);
  }

  const Status status = inner_.CreateKey(key, subkey, options, access, result, disposition);
  if (created && (status == kErrorSuccess || Exists(*created))) {
    Record& record = records_[Id(*created)];
    if (record.location.parts.empty()) record.location = *created;  // first change: it is new
  }
  if (status == kErrorSuccess && located) handles_[*result] = location;
  return status;
}

Status UndoRecorder::CloseKey(KeyRef key) {
  const Status status = inner_.CloseKey(key);
  if (status == kErrorSuccess) handles_.erase(key);
  return status;
}

Status UndoRecorder::DeleteKey(KeyRef key, std::string_view subkey) {
  Location location;
  if (!Locate(key, subkey, &location) || location.parts.empty()) {
    return inner_.DeleteKey(key, subkey);
  }
  const std::string id = Id(location);
  const bool fresh = !records_.contains(id);
  if (fresh && Exists(location)) Existing(location);
  const Status status = inner_.DeleteKey(key, subkey);
  if (status == kErrorSuccess) {
    Record& record = records_[id];
    if (record.location.parts.empty()) {  // it was there, though it would not open
      record.location = location;
      record.existed = true;
    }
    record.deleted = true;
  } else if (fresh) {
    records_.erase(id);
  }
  return status;
}

UndoRecorder::Record* UndoRecorder::BeforeValueChange(KeyRef key, bool* fresh) {
  Location location;
  if (!Locate(key, "", &location) || location.parts.empty()) return nullptr;
  *fresh = !records_.contains(Id(location));
  return &Existing(location);
}

Status UndoRecorder::SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                              std::span<const std::uint8_t> data) {
  bool fresh = false;
  Record* record = BeforeValueChange(key, &fresh);
  const Status status = inner_.SetValue(key, name, type, data);
  if (record != nullptr) {
    if (status == kErrorSuccess) {
      record->touched.try_emplace(UpperName(name), name);
    } else if (fresh) {
      records_.erase(Id(record->location));
    }
  }
  return status;
}

Status UndoRecorder::DeleteValue(KeyRef key, std::string_view name) {
  bool fresh = false;
  Record* record = BeforeValueChange(key, &fresh);
  const Status status = inner_.DeleteValue(key, name);
  if (record != nullptr) {
    if (status == kErrorSuccess) {
      record->touched.try_emplace(UpperName(name), name);
    } else if (fresh) {
      records_.erase(Id(record->location));
    }
  }
  return status;
}

std::string UndoRecorder::PathOf(const Record& record) const {
  // Each key above spelt as noted where it has a record of its own.
  const Location& location = record.location;
  std::string path(RootKeyName(location.root));
  Location prefix{location.root, {}};
  for (const std::string& part : location.parts) {
    prefix.parts.push_back(part);
    const auto found = records_.find(Id(prefix));
    path += '\\';
    path += found != records_.end() && !found->second.location.parts.empty()
                ? found->second.location.parts.back()
                : part;
  }
  return path;
}

std::vector<RegFileKey> UndoRecorder::UndoKeys() const {
  const auto removed = [](const Record& record) { return !record.existed || record.deleted; };
  const auto covered = [&](const Record& record) {
    Location prefix{record.location.root, {}};
    for (std::size_t i = 0; i + 1 < record.location.parts.size(); ++i) {
      prefix.parts.push_back(record.location.parts[i]);
      const auto found = records_.find(Id(prefix));
      if (found != records_.end() && removed(found->second)) return true;
    }
    return false;
  };

  std::vector<RegFileKey> keys;
  for (const auto& [id, record] : records_) {
    if (RootKeyName(record.location.root).empty()) continue;
    if (removed(record) && !covered(record)) keys.push_back({PathOf(record), true, {}});
  }
  // A key sorts after the keys above it: its id begins with theirs.
  for (const auto& [id, record] : records_) {
    if (!record.existed || RootKeyName(record.location.root).empty()) continue;
    if (record.deleted) {
      keys.push_back({PathOf(record), false, record.values});
      continue;
    }
    if (record.touched.empty()) continue;
    RegFileKey key{PathOf(record), false, {}};
    for (const auto& [upper, name] : record.touched) {
      const auto before =
          std::find_if(record.values.begin(), record.values.end(),
                       [&](const RegFileValue& v) { return UpperName(v.name) == upper; });
      if (before != record.values.end()) {
        key.values.push_back(*before);
      } else {
        key.values.push_back({name, true, 0, {}});
      }
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

bool UndoRecorder::empty() const { return UndoKeys().empty(); }

}  // namespace sorbantilex
