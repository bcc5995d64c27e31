#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <span>
#include <vector>

namespace sorbantilex::offline::testing {

/// A hive image for recovery tests: a clean base block (both sequence
/// numbers `sequence`, a last-written time, a file name and resource
/// manager identifiers as Windows writes them) and `bins` hive bins of 4096
/// bytes, bin k filled with the byte k + 1 after its header. Not a hive
/// libhivex can read: it holds no keys.
std::vector<std::uint8_t> MakeHiveImage(std::size_t bins, std::uint32_t sequence);

/// Fills the body of hive bin `bin` with `fill`.
void Touch(std::vector<std::uint8_t>& image, std::size_t bin, std::uint8_t fill);

/// Adds a hive bin of 4096 bytes at the end, filled with `fill`, and grows
/// the hive bins size in the base block.
void Grow(std::vector<std::uint8_t>& image, std::uint8_t fill);

/// Sets the sequence numbers of a base block and its checksum.
void SetSequences(std::vector<std::uint8_t>& image, std::uint32_t first, std::uint32_t second);

/// Writes a transaction log in the format of Windows 8.1 and later: the
/// hive's base block, marked as such a log, then one entry per `Add`.
class NewLogWriter {
 public:
  /// The log's base block is `hive`'s first sector, its sequence numbers
  /// `first_sequence` (the sequence number its first entry must carry).
  NewLogWriter(std::span<const std::uint8_t> hive, std::uint32_t first_sequence);
  /// Goes on writing entries after those of an existing log (which must end
  /// at a 4096-byte boundary, as Windows leaves them).
  explicit NewLogWriter(std::vector<std::uint8_t> existing) : bytes_(std::move(existing)) {}

  /// Appends an entry numbered `sequence` holding every 4096-byte page where
  /// `after` differs from `before` (pages past before's end count), with
  /// after's hive bins size and flags; returns where it starts in the log.
  std::size_t Add(std::uint32_t sequence, std::span<const std::uint8_t> before,
                  std::span<const std::uint8_t> after);

  /// Recomputes both hashes of the entry at `at` after a test changed it.
  void Rehash(std::size_t at);

  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

/// A transaction log in the format before Windows 8.1: after's base block
/// (first sector), the dirty vector of the 512-byte pages where `after`
/// differs from `before`, and those pages.
std::vector<std::uint8_t> OldFormatLog(std::span<const std::uint8_t> before,
                                       std::span<const std::uint8_t> after);

/// Makes the hive file `hive`, which now holds what a change made of
/// `before`, look as Windows leaves it when it stops before writing the
/// change into the file: `before` back in the file, dirty, and the change in
/// a new-format log `log_name` beside it.
void LeaveDirty(const std::filesystem::path& hive, const std::vector<std::uint8_t>& before,
                const std::string& log_name);

/// Reads and writes 32-bit little-endian numbers, for tests that edit images.
std::uint32_t Get32(std::span<const std::uint8_t> bytes, std::size_t at);
void Put32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value);

}  // namespace sorbantilex::offline::testing
