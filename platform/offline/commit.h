#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/offline/error.h"

namespace sorbantilex::offline {

/// One file a run replaces with new content.
class PendingFile {
 public:
  PendingFile() = default;
  virtual ~PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  /// The file to replace (it may be missing: it is then created).
  virtual const std::filesystem::path& target() const = 0;
  /// Why the run already found that this file cannot be replaced; nullopt
  /// when it found nothing against it.
  virtual std::optional<Error> Refusal() const { return std::nullopt; }
  /// Writes the whole new content into `fd`, open for reading and writing
  /// on a new empty file at `temporary`. Raises Error.
  virtual void Write(int fd, const std::filesystem::path& temporary) = 0;
  /// Checks the new content once it is on disk. Raises Error.
  virtual void Check(int fd, const std::filesystem::path& temporary) const = 0;
  /// Keeps, beside the file's own backup, backups of the files that go with
  /// it (a recovered hive's logs); returns them. Raises with none of them
  /// left.
  virtual std::vector<std::filesystem::path> KeepMoreBackups() { return {}; }
};

/// A file whose new content is a string of bytes.
class PendingBytes final : public PendingFile {
 public:
  PendingBytes(std::filesystem::path target, std::vector<std::uint8_t> content)
      : target_(std::move(target)), content_(std::move(content)) {}
  const std::filesystem::path& target() const override { return target_; }
  void Write(int fd, const std::filesystem::path& temporary) override;
  void Check(int fd, const std::filesystem::path& temporary) const override;

 private:
  std::filesystem::path target_;
  std::vector<std::uint8_t> content_;
};

/// Options and test hooks for a commit.
struct CommitHooks {
  /// Runs for each file after every new file is written, flushed and
  /// checked, before any replaces its old one; raising from it aborts the
  /// commit.
  std::function<void(const std::filesystem::path& temporary)> before_rename;
  /// Runs once, when every new file is on disk and every backup is kept,
  /// just before the first rename: what must be on disk before the run's
  /// changes become final (the undo file) is written here. It must not
  /// raise.
  std::function<void()> before_renames;
  /// False for files this program has just made (fixtures, the sample):
  /// there is nothing to keep a backup of.
  bool keep_backup = true;
};

/// What a commit did: each file replaced with its backup (empty when none
/// was kept), and each failure.
struct CommitReport {
  struct Written {
    std::filesystem::path hive;  // the file replaced, a hive or another
    std::filesystem::path backup;
    std::vector<std::filesystem::path> log_backups;  // of a hive recovered from its logs
  };
  std::vector<Written> written;
  std::vector<Error> errors;
};

/// Replaces every file of a run in two phases:
/// 1. checks that every file can be replaced (a regular file or none, not
///    read-only, in a writable folder on a writable volume); writes each
///    new file to a temporary file beside it (created exclusively, never
///    through a link), syncs them all to disk and checks each;
/// 2. keeps each old file as a dated backup (a hard link, or a copy where
///    links are not supported), then renames the new files over the old
///    ones, one after the other.
/// A failure in the first phase, or a stop asked for by `StopCommits`,
/// removes the temporary files and backups and leaves every file as it
/// was: the report then holds one error, `kCommitFailed`, naming the file
/// and giving what failed as its cause. A failed rename in the second phase
/// is `kReplaceFailed`.
CommitReport CommitFiles(std::vector<std::unique_ptr<PendingFile>> files,
                         const CommitHooks& hooks = {});

/// Copies each file beside itself as a dated backup
/// ("NAME.sorbantilex-DATE.bak"), synced: for files Windows rewrites in
/// place (a hive's logs), which a link would not keep. Returns the backups.
/// Raises `Error`, with the backups made so far removed, when a copy fails.
std::vector<std::filesystem::path> KeepBackupCopies(
    const std::vector<std::filesystem::path>& files);

/// Asks the commit running now to stop before it replaces any file (a
/// commit that starts later is not affected). Safe to call from a signal
/// handler.
void StopCommits() noexcept;

/// Why `path` cannot be replaced by a new file (kReadOnlyVolume,
/// kNotRegularFile, kReadOnly, kReadFailed, kFolderNotWritable), or nullopt
/// when it can.
std::optional<Error> WhyNotReplaceable(const std::filesystem::path& path);

/// The temporary name beside `file` that its new content is written to.
std::filesystem::path TemporaryName(const std::filesystem::path& file);

}  // namespace sorbantilex::offline
