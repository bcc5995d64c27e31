#include "platform/offline/hive_file/log_recovery.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/offline/hive_file/marvin32.h"
#include "platform/offline/hive_file/regf.h"

namespace sorbantilex::offline {

namespace {

constexpr std::size_t kBaseBlockSize = 4096;  // the hive bins start after it
constexpr std::size_t kSector = 512;
constexpr std::size_t kBlock = 4096;  // hive bins are multiples of it
constexpr std::size_t kBinHeader = 32;
constexpr std::size_t kEntryHeader = 40;
constexpr std::uint64_t kEntrySeed = 0x82EF4D887A4E55C5;

// Fields of a base block.
constexpr std::size_t kSequence1 = 4;
constexpr std::size_t kSequence2 = 8;
constexpr std::size_t kStamp = 12;
constexpr std::size_t kMajor = 20;
constexpr std::size_t kFileType = 28;
constexpr std::size_t kBinsSize = 40;
constexpr std::size_t kClustering = 44;
constexpr std::size_t kFileName = 48;
constexpr std::size_t kRmId = 112;
constexpr std::size_t kLogId = 128;
constexpr std::size_t kFlags = 144;
constexpr std::size_t kTmId = 148;
constexpr std::size_t kGuidSignatureEnd = 168;
constexpr std::size_t kBinStamp = 20;  // in the first hive bin's header

constexpr std::uint32_t kPrimaryFile = 0;
constexpr std::uint32_t kOldLog = 1;
constexpr std::uint32_t kOldLogNt5 = 2;
constexpr std::uint32_t kNewLog = 6;
constexpr std::uint32_t kLockedByKtm = 1;  // the only flag log entries carry

using Bytes = std::span<const std::uint8_t>;

std::uint32_t Get32(Bytes b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint64_t Get64(Bytes b, std::size_t at) {
  return Get32(b, at) | (static_cast<std::uint64_t>(Get32(b, at + 4)) << 32);
}
void Put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}
bool HasSignature(Bytes b, std::size_t at, std::string_view signature) {
  return at <= b.size() && b.size() - at >= signature.size() &&
         std::memcmp(b.data() + at, signature.data(), signature.size()) == 0;
}
std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

// The first sector of a hive's or a log's base block, as read.
struct Head {
  bool valid = false;  // signature and checksum right
  std::uint32_t sequence1 = 0;
  std::uint32_t sequence2 = 0;
  std::uint32_t file_type = 0;
  std::uint32_t bins_size = 0;
  std::uint32_t clustering = 0;
  std::uint64_t stamp = 0;
};

Head ReadHead(Bytes bytes) {
  Head head;
  if (bytes.size() < kSector || !HasSignature(bytes, 0, "regf")) return head;
  head.valid = BaseBlockChecksumOk(bytes.first(kSector));
  head.sequence1 = Get32(bytes, kSequence1);
  head.sequence2 = Get32(bytes, kSequence2);
  head.file_type = Get32(bytes, kFileType);
  head.bins_size = Get32(bytes, kBinsSize);
  head.clustering = Get32(bytes, kClustering);
  head.stamp = Get64(bytes, kStamp);
  return head;
}

enum class Format { kUnusable, kOld, kNew };

// One log beside the hive, as the recovery sees it.
struct Log {
  const TransactionLog* file = nullptr;
  int slot = 0;  // 1 for NAME.LOG1, 2 for NAME.LOG2, 0 for NAME.LOG
  Head head;
  Format format = Format::kUnusable;

  Bytes bytes() const { return file->bytes; }
  const std::string& name() const { return file->name; }
};

// How a log's base block compares with the hive's.
enum class Match { kSame, kOtherTime, kOtherHive };

// The hive file being recovered.
struct Primary {
  std::vector<std::uint8_t> image;
  Head head;                    // head.valid: its base block can be trusted
  bool has_bin_stamp = false;   // its first hive bin can be read
  std::uint64_t bin_stamp = 0;  // that bin's copy of the last-written time

  // A log made from this hive's memory carries the same identity in its base
  // block; when the hive's base block is damaged, only the last-written time
  // kept in its first hive bin is left to compare.
  Match Compare(const Log& log) const {
    const Bytes theirs = log.bytes();
    if (!head.valid) return bin_stamp == log.head.stamp ? Match::kSame : Match::kOtherTime;
    if (log.head.stamp != head.stamp) return Match::kOtherTime;
    const Bytes ours(image);
    auto same = [&](std::size_t from, std::size_t to) {
      return std::equal(ours.begin() + from, ours.begin() + to, theirs.begin() + from);
    };
    const bool no_manager = std::all_of(ours.begin() + kRmId, ours.begin() + kLogId,
                                        [](std::uint8_t b) { return b == 0; });
    if (!same(kMajor, kMajor + 4) || !same(kFileName, kLogId) ||
        (!no_manager && (!same(kLogId, kFlags) || !same(kTmId, kGuidSignatureEnd)))) {
      return Match::kOtherHive;
    }
    return Match::kSame;
  }
};

using Issue = RecoveryIssue::Kind;

RecoveryIssue Found(Issue kind, std::string log = {}, std::uint32_t entry = 0) {
  RecoveryIssue issue;
  issue.kind = kind;
  issue.log = std::move(log);
  issue.entry = entry;
  return issue;
}

[[noreturn]] void Refuse(RecoveryIssue issue) { throw RecoveryRefusal(std::move(issue)); }
[[noreturn]] void Refuse(Issue kind, std::string log = {}, std::uint32_t entry = 0) {
  Refuse(Found(kind, std::move(log), entry));
}

[[noreturn]] void RefuseForeign(const Log& log) { Refuse(Issue::kForeignLog, log.name()); }

// ---------------------------------------------------------------------------
// New format: log entries.

// A log entry whose header and hashes are right.
struct Entry {
  std::size_t at = 0;  // in the log
  std::uint32_t size = 0;
  std::uint32_t flags = 0;
  std::uint32_t sequence = 0;
  std::uint32_t bins_size = 0;
  std::uint32_t pages = 0;
};

enum class EntryState { kNone, kValid, kBadSize, kBadHash, kBadBinsSize, kNoPages };

// Reads the entry at `at`: kNone when no entry starts there.
EntryState ReadEntry(Bytes log, std::size_t at, Entry* entry) {
  if (!HasSignature(log, at, "HvLE") || log.size() - at < kEntryHeader) return EntryState::kNone;
  entry->at = at;
  entry->size = Get32(log, at + 4);
  entry->flags = Get32(log, at + 8);
  entry->sequence = Get32(log, at + 12);
  entry->bins_size = Get32(log, at + 16);
  entry->pages = Get32(log, at + 20);
  if (entry->size < kEntryHeader || entry->size % kSector != 0 || entry->size > log.size() - at) {
    return EntryState::kBadSize;
  }
  const Bytes body = log.subspan(at, entry->size);
  if (Get64(body, 24) != Marvin32(body.subspan(kEntryHeader), kEntrySeed) ||
      Get64(body, 32) != Marvin32(body.first(32), kEntrySeed)) {
    return EntryState::kBadHash;
  }
  if (entry->bins_size == 0 || entry->bins_size % kBlock != 0) return EntryState::kBadBinsSize;
  // Windows writes an entry only for pages to write: one without any is not
  // one of its entries, whatever its hashes say.
  if (entry->pages == 0) return EntryState::kNoPages;
  return EntryState::kValid;
}

// The sequence number of the entry at `at` when its header is intact.
std::optional<std::uint32_t> IntactSequence(Bytes log, std::size_t at, std::uint32_t* size) {
  if (!HasSignature(log, at, "HvLE") || log.size() - at < kEntryHeader) return std::nullopt;
  if (Get64(log, at + 32) != Marvin32(log.subspan(at, 32), kEntrySeed)) return std::nullopt;
  *size = Get32(log, at + 4);
  return Get32(log, at + 12);
}

// Writes the pages of a checked entry into the hive, whose hive bins can be
// no larger than `capacity` (all the hive file and its logs hold). Raises
// RecoveryRefusal for an entry whose hashes are right but whose sizes or
// pages cannot be placed: no known writer makes one, so what Windows does
// with it is unknown.
void ApplyEntry(const Log& log, const Entry& entry, std::uint64_t capacity,
                std::vector<std::uint8_t>& image) {
  const Bytes body = log.bytes().subspan(entry.at, entry.size);
  if (entry.bins_size > capacity) {
    RecoveryIssue issue = Found(Issue::kEntryTooLarge, log.name(), entry.sequence);
    issue.number = entry.bins_size;
    Refuse(std::move(issue));
  }
  auto impossible = [&] { Refuse(Issue::kEntryPagesOutside, log.name(), entry.sequence); };
  auto overrun = [&] { Refuse(Issue::kEntryPagesPastEnd, log.name(), entry.sequence); };
  if (entry.pages > (entry.size - kEntryHeader) / 8) overrun();
  const std::size_t references_end = kEntryHeader + 8 * std::size_t{entry.pages};
  std::uint64_t total = 0;  // 64 bits: no sum of 32-bit sizes wraps
  for (std::uint32_t k = 0; k < entry.pages; ++k) {
    const std::uint32_t offset = Get32(body, kEntryHeader + 8 * k);
    const std::uint32_t size = Get32(body, kEntryHeader + 8 * k + 4);
    if (size == 0 || offset % kSector != 0 || size % kSector != 0 ||
        std::uint64_t{offset} + size > entry.bins_size) {
      impossible();
    }
    total += size;
  }
  // The pages follow the references; the entry may end with padding.
  if (total > entry.size - references_end) overrun();
  const std::size_t pages_at = references_end;

  const std::size_t needed = kBaseBlockSize + std::size_t{entry.bins_size};
  if (image.size() < needed) image.resize(needed, 0);
  std::size_t from = pages_at;
  for (std::uint32_t k = 0; k < entry.pages; ++k) {
    const std::uint32_t offset = Get32(body, kEntryHeader + 8 * k);
    const std::uint32_t size = Get32(body, kEntryHeader + 8 * k + 4);
    std::copy_n(body.begin() + from, size, image.begin() + kBaseBlockSize + offset);
    from += size;
  }
}

// Recovery from logs in the new format.
class NewFormatRecovery {
 public:
  NewFormatRecovery(Primary& primary, Recovery& result, std::uint64_t capacity)
      : primary_(primary), result_(result), capacity_(capacity) {}

  void Run(std::vector<const Log*> logs) {
    if (primary_.head.valid) {
      // Only logs whose entries start at or after the hive's own sequence
      // number hold changes the hive lacks; the others are older.
      std::erase_if(logs,
                    [&](const Log* log) { return log->head.sequence1 < primary_.head.sequence2; });
      for (const Log* log : logs) {
        if (primary_.Compare(*log) != Match::kSame) RefuseForeign(*log);
      }
      if (logs.empty()) {
        Refuse(Issue::kOnlyOlderChanges);
      }
      // The log with the earlier entries goes first.
      std::stable_sort(logs.begin(), logs.end(), [](const Log* a, const Log* b) {
        return a->head.sequence1 < b->head.sequence1;
      });
    } else {
      for (const Log* log : logs) {
        if (primary_.Compare(*log) != Match::kSame) RefuseForeign(*log);
      }
      // Only the log with the latest entries is used, and its base block
      // replaces the damaged one.
      const Log* latest = *std::max_element(
          logs.begin(), logs.end(),
          [](const Log* a, const Log* b) { return a->head.sequence1 < b->head.sequence1; });
      logs = {latest};
      TakeBaseBlock(*latest, primary_.image);
      result_.base_block_from_log = true;
    }
    for (const Log* log : logs) {
      if (!ApplyLog(*log)) break;
    }
    if (!last_) {
      RecoveryIssue issue = Found(Issue::kNoEntryApplies);
      if (!left_out_.empty()) issue.because.push_back(left_out_);
      Refuse(std::move(issue));
    }
    result_.left_out = left_out_;
    auto& image = primary_.image;
    Put32(image, kBinsSize, bins_size_);
    Put32(image, kFlags, (Get32(image, kFlags) & ~kLockedByKtm) | (flags_ & kLockedByKtm));
  }

  // Copies a log's base block over the hive's, as a hive's base block.
  static void TakeBaseBlock(const Log& log, std::vector<std::uint8_t>& image) {
    if (image.size() < kBaseBlockSize) image.resize(kBaseBlockSize, 0);
    const std::size_t length = std::min(kBaseBlockSize, log.bytes().size());
    const std::size_t copied = std::min<std::size_t>(
        length, std::max<std::size_t>(kSector, std::size_t{log.head.clustering} * kSector));
    std::copy_n(log.bytes().begin(), copied, image.begin());
    Put32(image, kFileType, kPrimaryFile);
  }

 private:
  // Applies the log's entries in order. False when recovery must not go on
  // to the next log: nothing has been applied, from this log or before.
  bool ApplyLog(const Log& log) {
    const Bytes bytes = log.bytes();
    const std::uint32_t first = last_ ? *last_ + 1 : log.head.sequence1;
    std::uint32_t expected = first;
    std::size_t applied = 0;
    RecoveryIssue stop;  // why this log's entries end early
    for (std::size_t at = kSector; at < bytes.size();) {
      Entry entry;
      const EntryState state = ReadEntry(bytes, at, &entry);
      if (state == EntryState::kNone) break;
      if (entry.sequence != expected) {
        // An older entry after the newer ones is what is left of earlier
        // writes; a later one means entries are missing in between.
        if (applied == 0 && !last_) {
          stop = Found(Issue::kFirstEntryNotAnnounced, log.name(), entry.sequence);
          stop.expected = expected;
        } else if (entry.sequence > expected) {
          stop = Found(Issue::kEntryMissing, log.name(), entry.sequence);
          stop.expected = expected;
        }
        break;
      }
      // Each log's first entry is the one its base block names, even when
      // it follows on from the other log.
      if (applied == 0 && entry.sequence != log.head.sequence1) {
        stop = Found(Issue::kFirstEntryNotAnnounced, log.name(), entry.sequence);
        stop.expected = log.head.sequence1;
        break;
      }
      const auto stopped = [&](Issue kind) { stop = Found(kind, log.name(), entry.sequence); };
      if (state == EntryState::kBadSize) {
        stopped(Issue::kEntryBadSize);
        break;
      }
      if (state == EntryState::kBadHash) {
        stopped(Issue::kEntryBadHash);
        break;
      }
      if (state == EntryState::kBadBinsSize) {
        stopped(Issue::kEntryBadBinsSize);
        break;
      }
      if (state == EntryState::kNoPages) {
        stopped(Issue::kEntryNoPages);
        break;
      }
      ApplyEntry(log, entry, capacity_, primary_.image);
      last_ = entry.sequence;
      bins_size_ = entry.bins_size;
      flags_ = entry.flags;
      ++applied;
      ++expected;
      at += entry.size;
    }
    if (applied == 0) {
      // The first reason recovery stopped is the one that counts.
      if (left_out_.empty()) left_out_ = stop;
      return last_.has_value();
    }
    left_out_ = stop;
    result_.applied.push_back(AppliedLog{log.name(), false, applied, first, *last_});
    return true;
  }

  Primary& primary_;
  Recovery& result_;
  std::uint64_t capacity_;  // the largest hive bins size the files can hold
  std::optional<std::uint32_t> last_;
  std::uint32_t bins_size_ = 0;
  std::uint32_t flags_ = 0;
  RecoveryIssue left_out_;
};

// ---------------------------------------------------------------------------
// Old format: a dirty vector and the dirty pages.

// Applies an old-format log to the hive, whose hive bins can be no larger
// than `capacity` (all the hive file and its logs hold); returns the number
// of pages applied. The log's pages are one change, written together: a
// dirty hive bin that is not valid refuses the whole log, since the pages
// before it alone would make a hive that never was.
std::size_t ApplyOldLog(const Log& log, std::uint64_t capacity, std::vector<std::uint8_t>& image) {
  const Bytes bytes = log.bytes();
  auto damaged = [&](Issue kind) { Refuse(kind, log.name()); };
  const std::size_t sector = std::size_t{log.head.clustering} * kSector;
  if (log.head.clustering != 1 && log.head.clustering != 8) damaged(Issue::kOldLogUnknownSector);
  const std::size_t bins_size = log.head.bins_size;
  if (bins_size == 0 || bins_size % kBlock != 0) damaged(Issue::kOldLogBadBinsSize);
  if (bins_size > capacity) {
    RecoveryIssue issue = Found(Issue::kOldLogTooLarge, log.name());
    issue.number = bins_size;
    Refuse(std::move(issue));
  }
  if (!HasSignature(bytes, sector, "DIRT")) damaged(Issue::kOldLogNoDirtyVector);
  const std::size_t bits = bins_size / kSector;
  const std::size_t bitmap_at = sector + 4;
  if (bytes.size() - bitmap_at < (bits + 7) / 8) damaged(Issue::kOldLogIncomplete);
  auto dirty = [&](std::size_t bit) { return (bytes[bitmap_at + bit / 8] >> (bit % 8)) & 1; };
  std::size_t count = 0;
  for (std::size_t bit = 0; bit < bits; ++bit) count += dirty(bit);
  const std::size_t pages_at = RoundUp(bitmap_at + (bits + 7) / 8, sector);
  if (pages_at > bytes.size() || (bytes.size() - pages_at) / kSector < count) {
    damaged(Issue::kOldLogIncomplete);
  }

  if (image.size() < kBaseBlockSize + bins_size) image.resize(kBaseBlockSize + bins_size, 0);
  const std::span<std::uint8_t> bins(image.data() + kBaseBlockSize, bins_size);

  // The hive bin that holds the current position, followed through the
  // hive as recovered so far.
  std::size_t bin_start = 0;
  std::size_t bin_end = 0;
  auto valid_header = [&](Bytes header, std::size_t at) {
    const std::uint32_t size = Get32(header, 8);
    return HasSignature(header, 0, "hbin") && Get32(header, 4) == at && size >= kBlock &&
           size % kBlock == 0 && size <= bins_size - at;
  };
  std::size_t page = 0;  // next page in the log
  std::size_t applied = 0;
  for (std::size_t bit = 0; bit < bits;) {
    if (!dirty(bit)) {
      ++bit;
      continue;
    }
    std::size_t run_end = bit;
    while (run_end < bits && dirty(run_end)) ++run_end;
    // Contiguous dirty pages of one hive bin go together; a bin whose
    // header is not valid refuses the log.
    for (std::size_t at = bit * kSector; at < run_end * kSector;) {
      const Bytes data = bytes.subspan(pages_at + page * kSector, kSector);
      bool valid = true;
      if (at % kBlock == 0 && HasSignature(data, 0, "hbin")) {
        valid = valid_header(data, at);
        if (valid) {
          bin_start = at;
          bin_end = at + Get32(data, 8);
        }
      } else {
        while (valid && bin_end <= at) {
          const Bytes header = Bytes(bins).subspan(bin_end, kBinHeader);
          if (!valid_header(header, bin_end)) {
            valid = false;
          } else {
            bin_start = bin_end;
            bin_end += Get32(header, 8);
          }
        }
        // A dirty page where a bin starts must bring the bin's header.
        if (valid && at == bin_start) valid = false;
      }
      if (!valid) {
        RecoveryIssue issue = Found(Issue::kOldPageInvalidBin, log.name());
        issue.number = at / kSector;
        issue.partial = applied != 0;
        Refuse(std::move(issue));
      }
      const std::size_t end = std::min(run_end * kSector, bin_end);
      for (; at < end; at += kSector, ++page, ++applied) {
        const Bytes from = bytes.subspan(pages_at + page * kSector, kSector);
        std::copy(from.begin(), from.end(), bins.begin() + at);
      }
    }
    bit = run_end;
  }
  return applied;
}

// Chooses the old-format log Windows would recover the hive from.
const Log* ChooseOldLog(const Primary& primary, const std::vector<const Log*>& logs) {
  std::vector<const Log*> applicable;
  for (const Log* log : logs) {
    const Match match = primary.Compare(*log);
    if (match == Match::kOtherHive) RefuseForeign(*log);
    if (match == Match::kSame) applicable.push_back(log);
  }
  if (applicable.empty()) {
    Refuse(Issue::kNoLogOfThisMoment);
  }
  auto in_slot = [&](int slot) -> const Log* {
    for (const Log* log : applicable) {
      if (log->slot == slot) return log;
    }
    return nullptr;
  };
  const Log* first = in_slot(1);
  const Log* second = in_slot(2);
  const Log* single = in_slot(0);
  if (single != nullptr && (first != nullptr || second != nullptr)) {
    Refuse(Issue::kSingleAndPair, single->name());
  }
  if (single != nullptr) return single;
  if (first != nullptr) return first;
  Refuse(Issue::kOnlySecondLog, second->name());
}

// The highest sequence number the hive and its logs carry.
std::uint32_t HighestSequence(const Primary& primary, const std::vector<Log>& logs) {
  std::uint32_t highest = 0;
  if (primary.head.valid) highest = std::max({primary.head.sequence1, primary.head.sequence2});
  for (const Log& log : logs) {
    if (!log.head.valid) continue;
    highest = std::max({highest, log.head.sequence1, log.head.sequence2});
    if (log.head.file_type != kNewLog) continue;
    const Bytes bytes = log.bytes();
    std::uint32_t size = 0;
    for (std::size_t at = kSector; at < bytes.size(); at += size) {
      const auto sequence = IntactSequence(bytes, at, &size);
      if (!sequence) break;
      highest = std::max(highest, *sequence);
      if (size < kEntryHeader || size % kSector != 0) break;
    }
  }
  return highest;
}

// Whether the hive bins follow each other from the start of the hive bins
// data to its end.
bool BinsFollow(Bytes image) {
  const std::size_t bins_size = Get32(image, kBinsSize);
  if (image.size() < kBaseBlockSize || image.size() - kBaseBlockSize < bins_size) return false;
  for (std::size_t at = 0; at < bins_size;) {
    const Bytes header = image.subspan(kBaseBlockSize + at, kBinHeader);
    const std::uint32_t size = Get32(header, 8);
    if (!HasSignature(header, 0, "hbin") || Get32(header, 4) != at || size < kBlock ||
        size % kBlock != 0 || size > bins_size - at) {
      return false;
    }
    at += size;
  }
  return true;
}

}  // namespace

bool NeedsRecovery(std::span<const std::uint8_t> head) {
  const Head read = ReadHead(head);
  return !read.valid || read.sequence1 != read.sequence2;
}

Recovery RecoverHive(std::vector<std::uint8_t> image, const HiveLogs& files) {
  Recovery result;
  Primary primary;
  primary.image = std::move(image);
  primary.head = ReadHead(primary.image);
  if (primary.head.valid && primary.head.file_type != kPrimaryFile) primary.head.valid = false;
  const Bytes bins = Bytes(primary.image).subspan(std::min(primary.image.size(), kBaseBlockSize));
  if (HasSignature(bins, 0, "hbin") && bins.size() >= kBinHeader) {
    primary.has_bin_stamp = true;
    primary.bin_stamp = Get64(bins, kBinStamp);
  }

  std::vector<Log> logs;
  const std::pair<const std::optional<TransactionLog>*, int> slots[] = {
      {&files.log1, 1}, {&files.log2, 2}, {&files.log, 0}};
  for (const auto& [file, slot] : slots) {
    if (!file->has_value() || (*file)->bytes.empty()) continue;
    Log log;
    log.file = &**file;
    log.slot = slot;
    log.head = ReadHead(log.file->bytes);
    if (log.head.valid && log.head.sequence1 == log.head.sequence2) {
      if (log.head.file_type == kNewLog) log.format = Format::kNew;
      if (log.head.file_type == kOldLog || log.head.file_type == kOldLogNt5) {
        log.format = Format::kOld;
      }
    }
    logs.push_back(log);
  }
  if (logs.empty()) {
    Refuse(primary.head.valid ? Issue::kNoLogs : Issue::kNoLogsForDamagedHead);
  }
  if (!primary.head.valid && !primary.has_bin_stamp) {
    Refuse(Issue::kHeadAndDataDamaged);
  }

  std::vector<const Log*> old_logs;
  std::vector<const Log*> new_logs;
  for (const Log& log : logs) {
    if (log.format == Format::kOld) old_logs.push_back(&log);
    if (log.format == Format::kNew) new_logs.push_back(&log);
  }
  // Logs of the other format that could apply make the choice unclear.
  if (!new_logs.empty() && !old_logs.empty()) {
    const bool old_applies = std::any_of(old_logs.begin(), old_logs.end(), [&](const Log* log) {
      return primary.Compare(*log) != Match::kOtherTime;
    });
    const bool new_applies =
        !primary.head.valid || std::any_of(new_logs.begin(), new_logs.end(), [&](const Log* log) {
          return log->head.sequence1 >= primary.head.sequence2;
        });
    if (old_applies && new_applies) {
      RecoveryIssue issue = Found(Issue::kTwoFormats, old_logs.front()->name());
      issue.other = new_logs.front()->name();
      Refuse(std::move(issue));
    }
    if (!new_applies) new_logs.clear();
  }

  // Hive bins come from the hive file or from its logs: a size beyond what
  // they hold together was not written by Windows, and is refused before
  // anything that large is allocated.
  std::uint64_t capacity = primary.image.size() - std::min(primary.image.size(), kBaseBlockSize);
  for (const Log& log : logs) capacity += log.bytes().size();

  if (!new_logs.empty()) {
    NewFormatRecovery(primary, result, capacity).Run(new_logs);
  } else if (!old_logs.empty()) {
    const Log* log = ChooseOldLog(primary, old_logs);
    if (!primary.head.valid) {
      NewFormatRecovery::TakeBaseBlock(*log, primary.image);
      result.base_block_from_log = true;
    }
    const std::size_t pages = ApplyOldLog(*log, capacity, primary.image);
    Put32(primary.image, kBinsSize, log->head.bins_size);
    result.applied.push_back(AppliedLog{log->name(), true, pages, 0, 0});
  } else {
    RecoveryIssue issue = Found(Issue::kLogsDamaged);
    for (const Log& log : logs) issue.logs.push_back(log.name());
    Refuse(std::move(issue));
  }

  const std::uint32_t highest = HighestSequence(primary, logs);
  if (highest == UINT32_MAX) {
    Refuse(Issue::kSequenceExhausted);
  }
  result.sequence = highest + 1;
  if (!BinsFollow(primary.image)) {
    Refuse(Issue::kBinsDoNotFollow);
  }
  MarkClean(std::span(primary.image).first(kSector), result.sequence);
  result.image = std::move(primary.image);
  return result;
}

void MarkClean(std::span<std::uint8_t> base_block, std::uint32_t sequence) {
  const std::uint32_t value =
      std::max({Get32(base_block, kSequence1), Get32(base_block, kSequence2), sequence});
  Put32(base_block, kSequence1, value);
  Put32(base_block, kSequence2, value);
  SealBaseBlock(base_block);
}

RecoveryRefusal::RecoveryRefusal(RecoveryIssue issue) : issue_(std::move(issue)) {
  what_ = "recovery refused: kind " + std::to_string(static_cast<int>(issue_.kind));
  if (!issue_.log.empty()) what_ += ", log " + issue_.log;
  if (issue_.entry != 0) what_ += ", entry " + std::to_string(issue_.entry);
  if (issue_.number != 0) what_ += ", number " + std::to_string(issue_.number);
}

}  // namespace sorbantilex::offline
