#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/offline/hive_file/log_recovery.h"

namespace sorbantilex::offline {

/// A hive Windows left dirty, recovered from its transaction logs into a
/// memory file that libhivex opens by name. The memory file goes with the
/// object; no other copy of the recovered hive is kept.
class RecoveredHive {
 public:
  RecoveredHive(RecoveredHive&& other) noexcept;
  RecoveredHive& operator=(RecoveredHive&& other) = delete;
  RecoveredHive(const RecoveredHive&) = delete;
  ~RecoveredHive();

  /// The memory file holding the recovered hive (libhivex opens it by
  /// `DescriptorPath`), and its size.
  int fd() const { return memory_; }
  std::uint64_t size() const { return size_; }
  /// Closes the memory file (once libhivex has read it).
  void Release();
  /// Every log file beside the hive, applied or not: kept as backups when
  /// the recovered hive is written.
  const std::vector<std::filesystem::path>& logs() const { return logs_; }
  /// What was recovered: the logs applied and why later entries were left
  /// out (the recovered image itself is in the memory file, not here).
  const Recovery& summary() const { return summary_; }
  /// The sequence number the written hive must carry at least, so that
  /// Windows takes it as newer than every entry of the logs.
  std::uint32_t sequence() const { return sequence_; }

 private:
  friend std::optional<RecoveredHive> RecoverDirtyHive(int fd, const std::filesystem::path& hive,
                                                       const std::filesystem::path& within);
  RecoveredHive() = default;

  int memory_ = -1;
  std::uint64_t size_ = 0;
  std::vector<std::filesystem::path> logs_;
  Recovery summary_;
  std::uint32_t sequence_ = 0;
};

/// Reads the hive file `hive` (open on `fd`) and, when Windows left it
/// dirty, recovers it in memory from the logs beside it (NAME.LOG1,
/// NAME.LOG2, NAME.LOG, in any letter case; opened as `OpenRegularFile` does,
/// inside `within` when given) as Windows does when it loads the hive.
/// nullopt for a clean hive, which is then used as it is, and for a file
/// with no hive header and no log beside it (refused as no hive when
/// opened). Nothing on disk is written. Raises OfflineRefusal (naming the
/// file, saying why) when the hive cannot be recovered as Windows would
/// recover it, when a log is not a regular file or two files differ only in
/// letter case, or when a file cannot be read.
std::optional<RecoveredHive> RecoverDirtyHive(int fd, const std::filesystem::path& hive,
                                              const std::filesystem::path& within = {});

/// Makes the base block of the hive file just written on `fd` clean and
/// newer than its logs (see `MarkClean`). False when the file cannot be read
/// or written (errno set).
bool MarkFileClean(int fd, std::uint32_t sequence);

}  // namespace sorbantilex::offline
