#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

  /// The name libhivex opens the recovered hive by.
  std::string OpenPath() const;
  /// Closes the memory file (once libhivex has read it).
  void Release();
  /// Every log file beside the hive, applied or not: kept as backups when
  /// the recovered hive is written.
  const std::vector<std::filesystem::path>& logs() const { return logs_; }
  /// What was recovered, one sentence in Spanish for the user.
  const std::string& notice() const { return notice_; }
  /// The sequence number the written hive must carry at least, so that
  /// Windows takes it as newer than every entry of the logs.
  std::uint32_t sequence() const { return sequence_; }

 private:
  friend std::optional<RecoveredHive> RecoverDirtyHive(const std::filesystem::path& hive);
  RecoveredHive() = default;

  int memory_ = -1;
  std::vector<std::filesystem::path> logs_;
  std::string notice_;
  std::uint32_t sequence_ = 0;
};

/// Reads `hive` and, when Windows left it dirty, recovers it in memory from
/// the logs beside it (NAME.LOG1, NAME.LOG2, NAME.LOG, in any letter case)
/// as Windows does when it loads the hive. nullopt for a clean hive, which is
/// then used as it is. Nothing on disk is written. Raises OfflineRefusal
/// (naming the file, saying why) when the hive cannot be recovered as
/// Windows would recover it, when a log is not a regular file or two files
/// differ only in letter case, or when a file cannot be read.
std::optional<RecoveredHive> RecoverDirtyHive(const std::filesystem::path& hive);

/// Makes the base block of a hive file just written clean and newer than
/// its logs (see `MarkClean`). False when the file cannot be read or
/// written (errno set).
bool MarkFileClean(const std::filesystem::path& file, std::uint32_t sequence);

}  // namespace sorbantilex::offline
