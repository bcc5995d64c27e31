#include "registry/journal.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "registry/key_names.h"

namespace sorbantilex {
namespace {

// Enumerations stop here at the latest, whatever the store claims.
constexpr std::uint32_t kMaxEnumerated = 1u << 20;

std::string_view ShortRootName(KeyRef root) {
  switch (root) {
    case kHkeyClassesRoot:
      return "HKCR";
    case kHkeyCurrentUser:
      return "HKCU";
    case kHkeyLocalMachine:
      return "HKLM";
    case kHkeyUsers:
      return "HKU";
    case kHkeyPerformanceData:
      return "HKPD";
    case kHkeyCurrentConfig:
      return "HKCC";
    case kHkeyDynData:
      return "HKDD";
    default:
      return "?";
  }
}

JournalEntry Entry(JournalEntry::Kind kind, std::string key, std::string_view name = {},
                   std::uint32_t type = 0, std::span<const std::uint8_t> data = {}) {
  return {kind, std::move(key), std::string(name), type, {data.begin(), data.end()}};
}

// Equal type and data; texts equal but for the zeros that end them, which
// every reader of the registry drops.
bool SameData(const RegFileValue& a, const RegFileValue& b) {
  if (a.type != b.type) return false;
  if (a.type != kRegSz && a.type != kRegExpandSz) return a.data == b.data;
  auto text = [](const std::vector<std::uint8_t>& data) {
    std::size_t size = data.size();
    while (size > 0 && data[size - 1] == 0) --size;
    return std::span<const std::uint8_t>(data.data(), size);
  };
  return std::ranges::equal(text(a.data), text(b.data));
}

}  // namespace

// A key the run reached. The tree holds every key a handle was opened on or
// a change was made below, each once, whatever spelling reached it.
struct Journal::Node {
  Node* parent = nullptr;
  KeyRef root = kNullKey;
  std::string profile;  // whose HKEY_CURRENT_USER; empty for other roots
  std::string name;     // as the run first spelt it
  std::string stored;   // as the registry spells it, once recorded
  std::map<std::string, std::unique_ptr<Node>> children;  // by upper-cased name

  // How the key stood before the run, noted at its first change.
  bool recorded = false;
  bool existed = false;
  bool deleted = false;                        // by the run, at some point
  std::vector<RegFileValue> values;            // before the run, when it existed
  std::map<std::string, std::string> touched;  // changed values: upper-cased name, name

  bool removed() const { return recorded && (!existed || deleted); }
};

Journal::Journal(RegistryApi& inner) : ForwardingRegistry(inner) {}
Journal::~Journal() = default;

Journal::Node* Journal::RootNode(KeyRef root) {
  const std::string profile = root == kHkeyCurrentUser ? profile_ : std::string();
  auto& node = roots_[{root, profile}];
  if (!node) {
    node = std::make_unique<Node>();
    node->root = root;
    node->profile = profile;
  }
  return node.get();
}

Journal::Node* Journal::Locate(KeyRef key, std::string_view subkey) {
  Node* node = nullptr;
  if (IsRootKey(key)) {
    node = RootNode(key);
  } else if (const auto found = handles_.find(key); found != handles_.end()) {
    node = found->second;
  } else {
    return nullptr;
  }
  std::vector<std::string_view> parts;
  if (!subkey.empty() && !SplitKeyPath(subkey, &parts)) return nullptr;
  for (const std::string_view part : parts) {
    auto& child = node->children[UpperName(part)];
    if (!child) {
      child = std::make_unique<Node>();
      child->parent = node;
      child->root = node->root;
      child->profile = node->profile;
      child->name = std::string(part);
    }
    node = child.get();
  }
  return node;
}

Status Journal::Open(const Node& node, std::uint32_t access, KeyRef* result) {
  if (node.parent == nullptr) {
    *result = node.root;
    return kErrorSuccess;
  }
  std::vector<const Node*> chain;
  for (const Node* at = &node; at->parent != nullptr; at = at->parent) chain.push_back(at);
  std::string path;
  for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
    if (!path.empty()) path += '\\';
    path += (*at)->name;
  }
  return inner().OpenKey(node.root, path, 0, access, result);
}

bool Journal::Exists(const Node& node) {
  KeyRef key = kNullKey;
  const Status status = Open(node, kKeyQueryValue, &key);
  if (status == kErrorSuccess) inner().CloseKey(key);
  return status != kErrorFileNotFound;
}

void Journal::Record(Node& node) {
  if (node.recorded) return;
  node.recorded = true;
  // Below a key the run created or deleted, nothing is as it was before the
  // run: the removal of that key covers this one.
  for (const Node* up = node.parent; up != nullptr; up = up->parent) {
    if (up->removed()) return;
  }
  node.existed = true;

  // The key's own name as it is stored, from its parent's list.
  KeyRef key = kNullKey;
  if (Open(*node.parent, kKeyEnumerateSubKeys, &key) == kErrorSuccess) {
    std::array<char, 1024> name{};
    for (std::uint32_t i = 0; i < kMaxEnumerated; ++i) {
      auto length = static_cast<std::uint32_t>(name.size());
      const Status status = inner().EnumKey(key, i, name.data(), &length);
      if (status == kErrorMoreData) continue;
      if (status != kErrorSuccess) break;
      const std::string_view found(name.data(), length);
      if (SameName(found, node.name)) {
        node.stored = std::string(found);
        break;
      }
    }
    inner().CloseKey(key);
  }

  if (Open(node, kKeyQueryValue, &key) == kErrorSuccess) {
    for (std::uint32_t i = 0; i < kMaxEnumerated; ++i) {
      RegFileValue value;
      if (inner().EnumValue(key, i, &value.name, &value.type, &value.data) != kErrorSuccess) break;
      if (value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz) {
        // Exactly what the store keeps, which the text may not say.
        std::vector<std::uint8_t> stored;
        std::uint32_t type = 0;
        if (inner().QueryStoredValue(key, value.name, &type, &stored) == kErrorSuccess &&
            type == value.type) {
          value.stored = std::move(stored);
        }
      }
      node.values.push_back(std::move(value));
    }
    inner().CloseKey(key);
  }
}

void Journal::Forget(Node& node) {
  node.recorded = node.existed = node.deleted = false;
  node.stored.clear();
  node.values.clear();
  node.touched.clear();
}

void Journal::BeginSection(std::string caption) {
  sections_.push_back({std::move(caption), {}, profile_});
}

void Journal::Add(JournalEntry entry) {
  if (sections_.empty()) BeginSection("");
  sections_.back().changes.push_back(std::move(entry));
}

std::string Journal::ReportPath(const Node& node) const {
  std::vector<const Node*> chain;
  for (const Node* at = &node; at->parent != nullptr; at = at->parent) chain.push_back(at);
  std::string path(ShortRootName(node.root));
  for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
    path += '\\';
    path += (*at)->name;
  }
  return path;
}

std::string Journal::UndoPath(const Node& node) {
  // Each key spelt as the registry spelt it where the run recorded it.
  std::vector<const Node*> chain;
  for (const Node* at = &node; at->parent != nullptr; at = at->parent) chain.push_back(at);
  std::string path(RootKeyName(node.root));
  for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
    path += '\\';
    path += (*at)->stored.empty() ? (*at)->name : (*at)->stored;
  }
  return path;
}

Status Journal::OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                        std::uint32_t access, KeyRef* result) {
  const Status status = inner().OpenKey(key, subkey, options, access, result);
  if (status == kErrorSuccess) {
    if (Node* node = Locate(key, subkey)) handles_[*result] = node;
  }
  return status;
}

Status Journal::CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                          std::uint32_t access, KeyRef* result, std::uint32_t* disposition) {
  Node* node = Locate(key, subkey);
  // The shallowest key of the path that is missing: the one to remove.
  Node* created = nullptr;
  if (node != nullptr && node->parent != nullptr && !Exists(*node)) {
    created = node;
    for (Node* above = node->parent; above->parent != nullptr && !Exists(*above);
         above = above->parent) {
      created = above;
    }
  }

  std::uint32_t made = 0;
  const Status status = inner().CreateKey(key, subkey, options, access, result, &made);
  if (disposition != nullptr) *disposition = made;
  if (created != nullptr && !created->recorded && (status == kErrorSuccess || Exists(*created))) {
    created->recorded = true;  // its first change: it is new
  }
  if (status == kErrorSuccess && node != nullptr) {
    handles_[*result] = node;
    if (made == kRegCreatedNewKey) Add(Entry(JournalEntry::Kind::kKeyCreated, ReportPath(*node)));
  }
  return status;
}

Status Journal::CloseKey(KeyRef key) {
  const Status status = inner().CloseKey(key);
  if (status == kErrorSuccess) handles_.erase(key);
  return status;
}

Status Journal::DeleteKey(KeyRef key, std::string_view subkey) {
  Node* node = Locate(key, subkey);
  if (node == nullptr) {
    const Status status = inner().DeleteKey(key, subkey);
    if (status == kErrorSuccess) {
      Add(Entry(JournalEntry::Kind::kKeyDeleted, "?\\" + std::string(subkey)));
    }
    return status;
  }
  const bool fresh = !node->recorded;
  if (fresh && node->parent != nullptr && Exists(*node)) Record(*node);
  const Status status = inner().DeleteKey(key, subkey);
  if (status == kErrorSuccess) {
    if (node->parent != nullptr) {
      if (!node->recorded) {  // it was there, though it would not open
        node->recorded = true;
        node->existed = true;
      }
      node->deleted = true;
    }
    Add(Entry(JournalEntry::Kind::kKeyDeleted, ReportPath(*node)));
  } else if (fresh) {
    Forget(*node);
  }
  return status;
}

Status Journal::SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                         std::span<const std::uint8_t> data) {
  Node* node = Locate(key, "");
  const bool undoable = node != nullptr && node->parent != nullptr;
  const bool fresh = undoable && !node->recorded;
  if (undoable) Record(*node);
  const Status status = inner().SetValue(key, name, type, data);
  if (status == kErrorSuccess) {
    if (undoable) node->touched.try_emplace(UpperName(name), name);
    Add(Entry(JournalEntry::Kind::kValueWritten, node ? ReportPath(*node) : "?", name, type, data));
  } else if (fresh) {
    Forget(*node);
  }
  return status;
}

Status Journal::DeleteValue(KeyRef key, std::string_view name) {
  Node* node = Locate(key, "");
  const bool undoable = node != nullptr && node->parent != nullptr;
  const bool fresh = undoable && !node->recorded;
  if (undoable) Record(*node);
  const Status status = inner().DeleteValue(key, name);
  if (status == kErrorSuccess) {
    if (undoable) node->touched.try_emplace(UpperName(name), name);
    Add(Entry(JournalEntry::Kind::kValueDeleted, node ? ReportPath(*node) : "?", name));
  } else if (fresh) {
    Forget(*node);
  }
  return status;
}

bool Journal::empty() const {
  std::vector<const Node*> pending;
  for (const auto& [root, node] : roots_) {
    if (!RootKeyName(root.first).empty()) pending.push_back(node.get());
  }
  while (!pending.empty()) {
    const Node* node = pending.back();
    pending.pop_back();
    if (node->removed() || (node->recorded && !node->touched.empty())) return false;
    for (const auto& [upper, child] : node->children) pending.push_back(child.get());
  }
  return true;
}

std::vector<RegFileKey> Journal::UndoKeys() const {
  return UndoKeysOf([](const Node&) { return true; });
}

std::vector<Journal::UndoPart> Journal::UndoParts() const {
  std::vector<UndoPart> parts;
  parts.push_back(
      {std::nullopt, UndoKeysOf([](const Node& root) { return root.root != kHkeyCurrentUser; })});
  for (const auto& [root, node] : roots_) {
    if (root.first != kHkeyCurrentUser) continue;
    const std::string& profile = root.second;
    parts.push_back({profile, UndoKeysOf([&](const Node& other) {
                       return other.root == kHkeyCurrentUser && other.profile == profile;
                     })});
  }
  std::erase_if(parts, [](const UndoPart& part) { return part.keys.empty(); });
  return parts;
}

std::vector<RegFileKey> Journal::UndoKeysOf(const std::function<bool(const Node&)>& take) const {
  // Every key once, each after the keys above it, without recursion: a
  // hive may nest keys deeper than any stack.
  struct Visit {
    const Node* node;
    bool covered;  // a key above is removed
  };
  std::vector<const Node*> order;
  std::vector<bool> covered;
  std::vector<Visit> pending;
  for (auto root = roots_.rbegin(); root != roots_.rend(); ++root) {
    if (!RootKeyName(root->first.first).empty() && take(*root->second)) {
      pending.push_back({root->second.get(), false});
    }
  }
  while (!pending.empty()) {
    const Visit visit = pending.back();
    pending.pop_back();
    order.push_back(visit.node);
    covered.push_back(visit.covered);
    const bool below_removed = visit.covered || visit.node->removed();
    for (auto child = visit.node->children.rbegin(); child != visit.node->children.rend();
         ++child) {
      pending.push_back({child->second.get(), below_removed});
    }
  }

  std::vector<RegFileKey> keys;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i]->removed() && !covered[i]) keys.push_back({UndoPath(*order[i]), true, {}});
  }
  for (const Node* node : order) {
    if (!node->recorded || !node->existed) continue;
    if (node->deleted) {
      keys.push_back({UndoPath(*node), false, node->values});
      continue;
    }
    if (node->touched.empty()) continue;
    RegFileKey key{UndoPath(*node), false, {}};
    for (const auto& [upper, name] : node->touched) {
      const RegFileValue* before = nullptr;
      for (const RegFileValue& value : node->values) {
        if (UpperName(value.name) == upper) {
          before = &value;
          break;
        }
      }
      key.values.push_back(before != nullptr ? *before : RegFileValue{name, true, 0, {}});
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

std::vector<Journal::NetChange> Journal::NetChanges() {
  using Kind = JournalEntry::Kind;
  std::vector<NetChange> changes;
  // The values of the key as they are now; nullopt when it is missing.
  auto values_now = [&](const Node& node) -> std::optional<std::vector<RegFileValue>> {
    KeyRef key = kNullKey;
    const Status status = Open(node, kKeyQueryValue, &key);
    if (status == kErrorFileNotFound) return std::nullopt;
    std::vector<RegFileValue> values;
    if (status != kErrorSuccess) return values;
    for (std::uint32_t i = 0; i < kMaxEnumerated; ++i) {
      RegFileValue value;
      if (inner().EnumValue(key, i, &value.name, &value.type, &value.data) != kErrorSuccess) break;
      values.push_back(std::move(value));
    }
    inner().CloseKey(key);
    return values;
  };
  auto find = [](const std::vector<RegFileValue>& values,
                 const std::string& upper) -> std::optional<RegFileValue> {
    for (const RegFileValue& value : values) {
      if (UpperName(value.name) == upper) return value;
    }
    return std::nullopt;
  };

  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  struct Visit {
    Node* node;
    bool covered;               // a key above was deleted or created as a whole
    std::size_t deleted_above;  // the change of the deleted key above; kNone
  };
  std::vector<Visit> pending;
  for (auto root = roots_.rbegin(); root != roots_.rend(); ++root) {
    if (!RootKeyName(root->first.first).empty()) {
      pending.push_back({root->second.get(), false, kNone});
    }
  }
  while (!pending.empty()) {
    const Visit visit = pending.back();
    pending.pop_back();
    Node& node = *visit.node;
    bool covers = visit.covered;
    std::size_t deleted_above = visit.deleted_above;
    if (node.recorded && node.parent != nullptr) {
      const auto now = values_now(node);
      const std::string path = ReportPath(node);
      auto change = [&](Kind kind, std::string name, std::optional<RegFileValue> before,
                        std::optional<RegFileValue> after) {
        changes.push_back(
            {kind, path, node.profile, std::move(name), std::move(before), std::move(after)});
      };
      if (node.existed && !now) {
        if (!visit.covered) {
          change(Kind::kKeyDeleted, "", std::nullopt, std::nullopt);
          changes.back().values = node.values;
          for (RegFileValue& value : changes.back().values) value.stored.reset();
          deleted_above = changes.size() - 1;
        } else if (deleted_above != kNone) {
          ++changes[deleted_above].subkeys;
        }
        covers = true;
      } else if (!node.existed && now) {
        if (!visit.covered) change(Kind::kKeyCreated, "", std::nullopt, std::nullopt);
        covers = true;
        for (const RegFileValue& value : *now) change(Kind::kValueWritten, value.name, {}, value);
      } else if (node.existed && now) {
        // A key deleted and made again is compared whole; else the values
        // the run touched.
        std::map<std::string, std::string> names = node.touched;
        if (node.deleted) {
          for (const RegFileValue& value : node.values)
            names.try_emplace(UpperName(value.name), value.name);
          for (const RegFileValue& value : *now)
            names.try_emplace(UpperName(value.name), value.name);
        }
        for (const auto& [upper, name] : names) {
          auto before = find(node.values, upper);
          auto after = find(*now, upper);
          if (before) before->stored.reset();
          if (!before && !after) continue;
          if (before && after && SameData(*before, *after)) continue;
          const std::string shown = after ? after->name : before->name;
          change(after ? Kind::kValueWritten : Kind::kValueDeleted, shown, std::move(before),
                 std::move(after));
        }
      }
    }
    for (auto child = node.children.rbegin(); child != node.children.rend(); ++child) {
      pending.push_back({child->second.get(), covers, deleted_above});
    }
  }
  return changes;
}

}  // namespace sorbantilex
