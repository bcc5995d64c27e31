#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
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
/// no trace. Handles are followed in one tree of the keys the run reached,
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

  /// The changes of one step of the run.
  struct Section {
    std::string caption;
    std::vector<JournalEntry> changes;
  };
  /// From now on changes go under `caption`. Changes made before any
  /// section opened go under a section with an empty caption.
  void BeginSection(std::string caption);
  const std::vector<Section>& sections() const { return sections_; }

  /// True while the run has changed nothing that a registry file restores.
  bool empty() const;
  /// The key sections that restore the state before the run: the removals
  /// first, then each key to restore after the keys above it.
  std::vector<RegFileKey> UndoKeys() const;
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

  std::map<KeyRef, std::unique_ptr<Node>> roots_;
  std::map<KeyRef, Node*> handles_;
  std::vector<Section> sections_;
};

}  // namespace sorbantilex
