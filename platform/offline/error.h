#pragma once

// How the offline side reports what goes wrong, layer by layer.
//
// - Registry calls (`RegistryApi`: the in-memory, live and hive registries
//   alike) return Windows status codes and never raise. A missing key is a
//   status (2), not an error; `Registro` and the repairs pass over keys that
//   are missing or refused. While the repairs run, the hive store answers
//   with statuses like any registry; a change it declines to make (one that
//   would damage the file) is a status too, explained in its notices.
// - `Failure` (registry/failure.h: a number and a Spanish description) is
//   what the core raises where a call has no status to give (WMI, files,
//   value conversions); the task runner is the one place that catches it.
// - `offline::Error` is the one error of the offline platform: opening an
//   installation or a hive, writing the changes back (as the entries of
//   `CommitReport::errors`), writing the undo file. It carries a kind and
//   the facts (the file, the operating system's error number, a detail such
//   as a key name or another path), never a sentence: each front end turns
//   it into Spanish in one place (ui/text/offline_messages.h), and tests
//   look at its kind.
//   Raised while an installation or a hive is opened, nothing on disk has
//   been written. Raised while the changed files are written, a file that
//   was there before is still the old one, byte for byte.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorbantilex::offline {

enum class ErrorKind {
  // Opening the installation.
  kNotAFolder,              // path: the folder named; errno ENOENT when nothing is there
  kNoWindowsFolder,         // path: the folder; no Windows folder with System32\config in it
  kInstallationIncomplete,  // path: SOFTWARE or SYSTEM of the Windows folder, not there
  kHibernated,              // path: the hibernation file holding a hibernated system
  kNoProfile,               // path: the installation; no profile with NTUSER.DAT
  kProfileNotFound,         // path: the installation; detail: the name asked for, then
                            // one line per profile ("name" or "name (SID)")
  kSeveralProfiles,         // path: the installation; detail: one line per profile
  kInstallationPresent,     // path: a folder that already holds one (making the sample)
  // Opening a file of the installation.
  kHiveMissing,        // path: the hive file, not there
  kNotRegularFile,     // path; detail: what stands there ("symlink", "directory",
                       // "fifo", "device", "socket"), empty when not known
  kLinkOutside,        // path: a link on its way leads outside the installation
  kReadFailed,         // path; errno
  kNotAHive,           // path; defect() says what is wrong, else errno (libhivex's)
  kReadOnly,           // path: the file is read-only
  kReadOnlyVolume,     // path: a file to write, on a volume mounted read-only
  kFolderNotWritable,  // path: a file to write; its folder takes no new files
  // Recovering a hive Windows left dirty from its transaction logs.
  kLogUnrecoverable,     // path: the hive; recovery() says why
  kLogUnreadable,        // path: the log; cause() why it was not opened, else errno
                         // (EFBIG: too large; 0: it became shorter while read)
  kAmbiguousLogs,        // path: a log; detail: another whose name differs only in case
  kNoMemoryForRecovery,  // path: the hive; errno
  // What the repairs met.
  kDamagedKey,         // path: the hive; detail: the key libhivex cannot read
  kControlSetUnknown,  // path: SYSTEM; detail: the control set Select\Current names
                       // and that is missing, empty when the value itself is wrong
  kValueTooLarge,      // path: the hive; detail: the value libhivex would write wrongly
  // Writing the changes.
  kCommitFailed,        // path: the file at hand, may be empty; cause(): what failed.
                        // Nothing of the run was saved.
  kReplaceFailed,       // path: the file not replaced; errno; detail: the files
                        // already replaced, one a line. The others are as they were.
  kStopped,             // a signal stopped the commit before any file was replaced
  kAlreadyCommitted,    // path: the hive, whose changes were already written
  kCreateFailed,        // path: a new file; errno
  kWriteFailed,         // path; errno
  kCopyFailed,          // path: the file copied; detail: the copy; errno, 0 when the
                        // file became shorter while it was copied
  kSyncFailed,          // path; errno
  kCheckFailed,         // path: the new file; defect() says how it is no hive, else
                        // it does not hold what was written
  kHivexFailed,         // path; errno; detail: the key, empty for the whole file
  kSortFailed,          // path: the new hive, whose new subkey lists could not be ordered
  kUndoFileNotWritten,  // path: the undo file; errno
  kUnexpected,          // detail: what an error nobody foresaw said
};

/// What is wrong in a file that should be a hive, found by reading its
/// base block and the heads of its bins.
struct HiveDefect {
  enum class What {
    kNone,
    kNoHeader,
    kBadHeader,  // wrong checksum or major version
    kSequenceMismatch,
    kImpossibleBinsSize,  // first: the size the header declares
    kShorterThanHeader,   // first: bytes declared; second: bytes in the file
    kDataBeyondHeader,    // first: bytes after the declared data
    kUnreadableAt,        // first: the offset
    kBinsMismatchAt,      // first: the offset
    kNoRootKey,
    kRootKeyUnreadable,
  };
  What what = What::kNone;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  explicit operator bool() const { return what != What::kNone; }
  friend bool operator==(const HiveDefect&, const HiveDefect&) = default;
};

/// What the recovery found wrong in a hive's logs: why it refuses to
/// recover the hive, or why replay stopped before the end of the logs (where
/// Windows stops too). Facts only: the front ends put them into words.
struct RecoveryIssue {
  enum class Kind {
    kNone,
    // Replay stops here, keeping the entries before (and so does Windows).
    kFirstEntryNotAnnounced,  // `log`'s first entry is `entry`, its header says `expected`
    kEntryMissing,            // after `expected` - 1 comes `entry` in `log`
    kEntryBadSize,            // entry `entry` of `log`
    kEntryBadHash,
    kEntryBadBinsSize,
    kEntryNoPages,
    // Refusals: what Windows would make of the files is not certain.
    kNoLogs,                // none beside the hive
    kNoLogsForDamagedHead,  // the base block is damaged and no log replaces it
    kHeadAndDataDamaged,    // which logs belong to the hive cannot be told
    kForeignLog,            // `log` belongs to another hive or another moment
    kOnlyOlderChanges,      // the logs hold only changes the hive has
    kNoEntryApplies,        // `because`, when set, says why
    kEntryTooLarge,         // entry `entry` of `log` claims `number` bytes of hive bins
    kEntryPagesOutside,     // entry `entry` of `log` has pages outside the hive bins
    kEntryPagesPastEnd,     // entry `entry` of `log` lists more pages than it holds
    kOldLogUnknownSector,   // `log` (old format) has a sector size no writer uses
    kOldLogBadBinsSize,
    kOldLogTooLarge,  // `log` claims `number` bytes of hive bins
    kOldLogNoDirtyVector,
    kOldLogIncomplete,
    kOldPageInvalidBin,  // page `number` of `log` is in no valid bin; `partial`:
                         // pages before it were valid
    kNoLogOfThisMoment,
    kSingleAndPair,  // `log` (one-log scheme) and a pair both apply
    kOnlySecondLog,  // only `log`, the second of a pair, applies
    kTwoFormats,     // `log` and `other`, of two formats, both apply
    kLogsDamaged,    // every log in `logs` is damaged or incomplete
    kSequenceExhausted,
    kBinsDoNotFollow,  // the result's hive bins do not follow each other
  };
  Kind kind = Kind::kNone;
  std::string log;
  std::string other;
  std::vector<std::string> logs;
  std::uint32_t entry = 0;
  std::uint32_t expected = 0;
  std::uint64_t number = 0;
  bool partial = false;
  std::vector<RecoveryIssue> because;  // at most one: why no entry applied

  bool empty() const { return kind == Kind::kNone; }
};

class Error : public std::exception {
 public:
  explicit Error(ErrorKind kind, std::filesystem::path path = {}, int error_number = 0,
                 std::string detail = {});
  Error(ErrorKind kind, std::filesystem::path path, HiveDefect defect);
  Error(ErrorKind kind, std::filesystem::path path, RecoveryIssue recovery);
  /// `kind` at `path` because of `cause`.
  Error(ErrorKind kind, std::filesystem::path path, const Error& cause);
  /// `kCommitFailed` at `path` because of `cause`.
  static Error CommitFailed(std::filesystem::path path, Error cause);

  ErrorKind kind() const noexcept { return kind_; }
  const std::filesystem::path& path() const noexcept { return path_; }
  int error_number() const noexcept { return error_number_; }
  const std::string& detail() const noexcept { return detail_; }
  const HiveDefect& defect() const noexcept { return defect_; }
  /// The error that led to this one, or null.
  const Error* cause() const noexcept { return cause_.get(); }
  /// Why a hive's logs cannot recover it, or null.
  const RecoveryIssue* recovery() const noexcept { return recovery_.get(); }
  /// Kind name, path, errno, detail: one line for logs, not for users.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  void Compose();

  ErrorKind kind_;
  std::filesystem::path path_;
  int error_number_ = 0;
  std::string detail_;
  HiveDefect defect_;
  std::shared_ptr<const Error> cause_;
  std::shared_ptr<const RecoveryIssue> recovery_;
  std::string what_;
};

/// The kind's name as written here ("kNotAHive").
std::string_view KindName(ErrorKind kind);

}  // namespace sorbantilex::offline
