#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/forwarding_registry.h"
#include "registry/reg_file.h"

namespace sorbantilex {

/// One change the run made to the registry, as it was made.
struct JournalEntry {
  enum class Kind { kKeyDeleted, kKeyCreated, kValueWritten, kValueDeleted };
  Kind kind = Kind::kValueWritten;
  std::string key;   // full path as the run spelt it: "HKLM\SOFTWARE\..."
  std::string name;  // the value's name
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;  // as written
};

/// The journal of a run's changes to the registry. It passes every call on
/// to the registry it wraps and, for each change the registry made, writes
/// down once:
/// - the change itself, under the section (the repair) that was running:
///   the change report is read from `sections`;
/// - before the first change of a key or of one of its values, how the key
///   stood before the run: the undo file is made from that (`UndoKeys`).
///   A key the run deleted comes back whole (every value, every subkey, the
///   names spelt as they were); a key the run created is removed with all
///   that was put in it; a value the run overwrote gets its old type and
///   data back, a value it created is removed, a value it deleted comes
///   back.
/// Keys and values the run only read, and calls the registry refused, leave
/// no trace.
///
/// HKEY_CURRENT_USER is one profile's hive at a time (`SetProfile`): the
/// keys below it are kept apart per profile, each section says which
/// profile was current, and the undo keys come in parts, the machine's and
/// each profile's (`UndoParts`). Handles are followed in one tree of the keys the run reached,
/// so that the work per call grows with the path, never with the run.
class Journal final : public ForwardingRegistry {
 public:
  explicit Journal(RegistryApi& inner);
  ~Journal() override;

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override;
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override;
  Status CloseKey(KeyRef key) override;
  Status DeleteKey(KeyRef key, std::string_view subkey) override;
  Status DeleteValue(KeyRef key, std::string_view name) override;
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override;

  /// The changes of one step of the run, made while `profile` was the
  /// current user's.
  struct Section {
    std::string caption;
    std::vector<JournalEntry> changes;
    std::string profile = {};
  };
  /// From now on changes go under `caption`. Changes made before any
  /// section opened go under a section with an empty caption.
  void BeginSection(std::string caption);
  const std::vector<Section>& sections() const { return sections_; }

  /// From now on HKEY_CURRENT_USER is the hive of `profile` (the registry
  /// below must have switched too). Handles opened before stay with the
  /// profile they were opened under.
  void SetProfile(std::string profile) { profile_ = std::move(profile); }
  const std::string& profile() const { return profile_; }

  /// True while the run has changed nothing that a registry file restores.
  bool empty() const;
  /// The key sections that restore the state before the run: the removals
  /// first, then each key to restore after the keys above it.
  std::vector<RegFileKey> UndoKeys() const;
  /// `UndoKeys` in parts that are imported apart: the machine's (every root
  /// but HKEY_CURRENT_USER; `profile` nullopt) first, then each profile's
  /// HKEY_CURRENT_USER. Parts with nothing to restore are left out.
  struct UndoPart {
    std::optional<std::string> profile;
    std::vector<RegFileKey> keys;
  };
  std::vector<UndoPart> UndoParts() const;

  /// What differs now from before the journal's first change of each key it
  /// reached: what a run would leave changed, whatever it did on the way (a
  /// value written with the data it had, or a key deleted and made again as
  /// it was, is no change). Keys deleted or created are given once, at the
  /// shallowest; values of a key created are given as written.
  struct NetChange {
    JournalEntry::Kind kind = JournalEntry::Kind::kValueWritten;
    std::string key;                        // "HKLM\SOFTWARE\...", "HKCU\..."
    std::string profile;                    // whose HKEY_CURRENT_USER; empty for other roots
    std::string name;                       // the value's; empty for a key
    std::optional<RegFileValue> before;     // the value as it was (none: absent)
    std::optional<RegFileValue> after;      // the value as it is now (none: absent)
    std::vector<RegFileValue> values = {};  // a key deleted: the values it held
    std::size_t subkeys = 0;                // a key deleted: keys deleted beneath it
  };
  std::vector<NetChange> NetChanges();
  /// `UndoKeys` as the bytes of a registry file (see `RegFileBytes`).
  std::vector<std::uint8_t> UndoFile() const { return RegFileBytes(UndoKeys()); }

 private:
  struct Node;

  Node* RootNode(KeyRef root);
  /// The node of `subkey` below the key behind `key`, made where missing;
  /// null for an unknown handle or a path the registry would refuse.
  Node* Locate(KeyRef key, std::string_view subkey);
  Status Open(const Node& node, std::uint32_t access, KeyRef* result);
  /// False only when the key is missing (a key that refuses to open is
  /// there).
  bool Exists(const Node& node);
  /// Notes how the key stood before the run, once: its own spelling and its
  /// values. A key below one the run created, or deleted, is new.
  void Record(Node& node);
  /// Undoes `Record` for a change the registry refused.
  static void Forget(Node& node);
  void Add(JournalEntry entry);
  std::string ReportPath(const Node& node) const;
  static std::string UndoPath(const Node& node);
  /// The undo keys of the roots `take` accepts.
  std::vector<RegFileKey> UndoKeysOf(const std::function<bool(const Node&)>& take) const;

  // The roots by key and profile (empty but for HKEY_CURRENT_USER).
  std::map<std::pair<KeyRef, std::string>, std::unique_ptr<Node>> roots_;
  std::map<KeyRef, Node*> handles_;
  std::vector<Section> sections_;
  std::string profile_;
};

}  // namespace sorbantilex
