#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <exception>
#include <string>
#include <vector>

#include "platform/offline/error.h"

namespace sorbantilex::offline {

/// One transaction log of a hive, read whole.
struct TransactionLog {
  std::string name;  // the file name as found beside the hive
  std::vector<std::uint8_t> bytes;
};

/// The logs found beside a hive NAME: NAME.LOG1 and NAME.LOG2 (two-log
/// scheme, either format) and NAME.LOG (one-log scheme).
struct HiveLogs {
  std::optional<TransactionLog> log1;
  std::optional<TransactionLog> log2;
  std::optional<TransactionLog> log;
};

/// What recovery took from one log.
struct AppliedLog {
  std::string name;
  bool old_format = false;
  /// Entries applied; for a log in the old format, 512-byte pages.
  std::size_t count = 0;
  std::uint32_t first_sequence = 0;  // sequence numbers of the entries applied
  std::uint32_t last_sequence = 0;
};

/// A dirty hive brought up to date from its logs, as Windows does when it
/// loads the hive.
struct Recovery {
  /// The recovered hive. Its base block is clean: both sequence numbers equal
  /// `sequence`, the checksum right.
  std::vector<std::uint8_t> image;
  /// The logs applied, in the order they were applied.
  std::vector<AppliedLog> applied;
  /// Why log entries after the last one applied were left out; empty when
  /// the logs ended normally.
  RecoveryIssue left_out;
  /// The hive's own base block was damaged and was taken from a log.
  bool base_block_from_log = false;
  /// Above every sequence number in the hive and in every log: a hive
  /// written with this number is clean and newer than anything in the logs,
  /// so Windows leaves the logs alone.
  std::uint32_t sequence = 0;
};

/// Raised when the logs cannot bring the hive to the state Windows would
/// recover; `issue` says why and names the log concerned.
class RecoveryRefusal : public std::exception {
 public:
  explicit RecoveryRefusal(RecoveryIssue issue);
  const RecoveryIssue& issue() const noexcept { return issue_; }
  /// The kind and facts on one line, for logs, not for users.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  RecoveryIssue issue_;
  std::string what_;
};

/// Whether Windows would recover the hive from its logs before using it: its
/// base block (the first bytes of `head`, at least 512 for a verdict) is
/// missing, has a wrong checksum, or has different sequence numbers.
bool NeedsRecovery(std::span<const std::uint8_t> head);

/// Recovers a hive whose file holds `primary` (see `NeedsRecovery`) from its
/// logs: the old format (dirty vector and pages, chosen by the last-written
/// time) or the new one (log entries checked by sequence number and hash,
/// from both logs in order, growing the hive as they say). Stops at the
/// first entry that is not valid and keeps the entries applied before; an
/// old-format log is one change, applied whole or not at all. Raises
/// RecoveryRefusal where the result could differ from what Windows would
/// make of the same files: no log that applies, a damaged base block with no
/// log to replace it, a log of another hive, logs whose choice or content
/// Windows does not settle, sizes larger than the hive file and its logs
/// hold together, or a result whose hive bins do not follow each other.
Recovery RecoverHive(std::vector<std::uint8_t> primary, const HiveLogs& logs);

/// Makes a written hive's base block (its first 512 bytes) clean and newer
/// than its logs: both sequence numbers set to the larger of what they hold
/// and `sequence`, the checksum recomputed.
void MarkClean(std::span<std::uint8_t> base_block, std::uint32_t sequence);

}  // namespace sorbantilex::offline
