#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/offline/commit.h"
#include "platform/offline/hive_file/dirty_hive.h"
#include "platform/offline/offline_errors.h"

struct hive_h;  // libhivex's handle; only hive.cpp includes <hivex.h>

namespace sorbantilex::offline {

/// Value data longer than this is kept by Windows (hives of minor version 4
/// and later) in a big-data record, which libhivex cannot write: it writes
/// one oversized cell that Windows reads as corrupt.
inline constexpr std::size_t kLargestSingleCellValue = 16344;

/// True when a value of `size` bytes in a hive of minor version `minor` is
/// one libhivex cannot write without damaging the file.
constexpr bool NeedsBigDataRecord(std::uint32_t minor, std::size_t size) {
  return minor >= 4 && size > kLargestSingleCellValue;
}

/// One value as the hive stores it: string data in UTF-16LE.
struct HiveValue {
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

class Hive;

/// A key of a hive as this run sees it. Subkeys and values are read from the
/// file on first use; changes stay here until the hive is committed.
struct HiveKey {
  std::string name;
  HiveKey* parent = nullptr;  // null for a hive's root and for the virtual roots
  Hive* hive = nullptr;       // null for the virtual roots
  std::size_t origin = 0;     // libhivex node in the file; 0 when created in this run
  bool children_loaded = false;
  bool values_loaded = false;
  bool broken = false;  // libhivex could not read it
  bool deleted = false;
  bool closed_to_children = false;  // no key can be created directly beneath
  bool values_changed = false;
  bool subtree_changed = false;
  std::map<std::string, std::shared_ptr<HiveKey>> children;  // by upper-cased name
  std::vector<std::size_t> removed;  // subkeys from the file deleted in this run
  std::vector<HiveValue> values;     // in the order the file or the run gave them

  HiveValue* FindValue(std::string_view value_name);
};

/// One hive file opened through libhivex.
///
/// A hive Windows left dirty (changes still in its transaction logs) is
/// recovered from its logs in memory, as Windows would recover it, and used
/// from there (see `RecoverDirtyHive`).
///
/// Opening refuses (Error, nothing written): a missing file; a
/// file that is no hive or does not parse; a dirty hive that cannot be
/// recovered as Windows would; for writing, a read-only file, folder or
/// mount; anything but a regular file, a link at the file's own name, and
/// (when `within` is given) a file whose folder a link leads outside
/// `within`; a base block whose hive bins do not match it. A dirty hive that
/// cannot be recovered is refused with `kLogUnrecoverable`.
class Hive {
 public:
  static std::unique_ptr<Hive> Open(const std::filesystem::path& path, std::string mount_name,
                                    bool for_writing, const std::filesystem::path& within = {});
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::uint32_t minor_version() const { return minor_; }
  const std::shared_ptr<HiveKey>& root() const { return root_; }
  bool changed() const { return root_->subtree_changed; }
  /// What was recovered from the transaction logs (Spanish); empty for a
  /// hive that was clean.
  /// What the logs brought, when the hive was recovered from them.
  const Recovery* recovery() const { return recovered_ ? &recovered_->summary() : nullptr; }

  /// Reads a key's subkeys (names only) or values from the file on first
  /// use. False when libhivex cannot read them: the key is then broken.
  bool LoadChildren(HiveKey& key);
  bool LoadValues(HiveKey& key);
  /// The keys libhivex could not read in this run, in the order they were
  /// met, each as a path from the hive's root ("SOFTWARE\\Microsoft").
  const std::vector<std::string>& damaged_keys() const { return damaged_keys_; }
  /// Marks the key and its ancestors as changed.
  static void MarkChanged(HiveKey& key);

  /// The new hive, for `CommitFiles`: libhivex writes it with this run's
  /// changes, then the subkey lists it added to are put in Windows' order
  /// in place; it is checked by reading its base block and bins. A hive is
  /// written once per run: writing a changed hive again raises kAlreadyCommitted.
  /// A recovered hive is written clean, with sequence numbers above its
  /// logs', and its logs, left in place, are also kept as dated backups.
  std::unique_ptr<PendingFile> Pending();

 private:
  struct CloseHive {
    void operator()(::hive_h* h) const noexcept;
  };

  Hive(std::filesystem::path path, ::hive_h* handle, std::uint32_t minor);
  class PendingHive;
  void WriteNew(int fd, const std::filesystem::path& temporary);
  void Apply(HiveKey& key, std::size_t node, std::vector<std::size_t>& added_to);
  void MarkBroken(HiveKey& key);

  std::filesystem::path path_;
  std::unique_ptr<::hive_h, CloseHive> handle_;
  std::uint32_t minor_ = 0;
  std::shared_ptr<HiveKey> root_;
  bool commit_attempted_ = false;
  std::vector<std::string> damaged_keys_;
  std::optional<RecoveredHive> recovered_;
};

}  // namespace sorbantilex::offline
