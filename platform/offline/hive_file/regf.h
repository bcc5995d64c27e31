#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/error.h"

namespace sorbantilex::offline {

/// What the program reads of a hive's base block (its first 4096 bytes).
struct BaseBlock {
  std::uint32_t sequence1 = 0;
  std::uint32_t sequence2 = 0;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t root_cell = 0;  // offset of the root key's cell in the bins
  std::uint32_t bins_size = 0;  // bytes of hive bins after the base block
  bool checksum_ok = false;

  /// Windows left changes in the transaction logs that the hive file does
  /// not hold yet.
  bool Dirty() const { return sequence1 != sequence2; }
};

/// Reads the base block; nullopt when the file is shorter than one or does
/// not start with the hive signature.
std::optional<BaseBlock> ReadBaseBlock(const std::filesystem::path& path);
/// The same from an open file.
std::optional<BaseBlock> ReadBaseBlock(int fd);

/// Checks, reading only the bins' headers, that the hive bins stand where
/// the base block says: a chain of "hbin" blocks, each naming its own
/// offset, that ends exactly at the declared size, within the file, with no
/// more padding after it than the data itself (or 16 MiB). Returns what is
/// wrong, or no defect.
HiveDefect CheckBins(int fd, std::uint64_t file_size, std::uint32_t bins_size);

/// Whether the checksum of a base block (its first 512 bytes) is right.
bool BaseBlockChecksumOk(std::span<const std::uint8_t> base_block);

/// Rewrites the checksum of a base block (the first 512 bytes of `image`)
/// after its fields were changed.
void SealBaseBlock(std::span<std::uint8_t> image);

/// Writes a valid empty hive: a base block with its checksum, one 4 KiB bin
/// holding the root key (named `root_name`, ASCII) with a security
/// descriptor (SYSTEM and Administrators full control, Users read), and the
/// rest of the bin free. `minor_version` is 3 (Windows NT 4 to XP layout)
/// or 5 (later). Raises `Error` (kWriteFailed) when the file cannot be written, and
/// std::invalid_argument for a root name that is not 1 to 255 ASCII characters.
void WriteBlankHive(const std::filesystem::path& path, std::string_view root_name = "ROOT",
                    std::uint32_t minor_version = 5);

/// Puts the subkey lists of the given keys (cell offsets in the file, as
/// libhivex numbers its nodes) in the order Windows searches them in:
/// ascending by upper-cased name, so "[br]" and "_x" after "zz". libhivex
/// versions differ in the comparison they insert new names by; a list out
/// of order makes Windows miss keys and damage the hive when it saves it.
/// Returns false when a list cannot be understood (that list is left as is).
bool SortSubkeyLists(std::span<std::uint8_t> image, std::span<const std::size_t> keys);
/// The same on the file `fd` is open on (for reading and writing), through
/// a mapping: only the cells it changes are written.
bool SortSubkeyListsInPlace(int fd, std::span<const std::size_t> keys);

/// Why the file `fd` is open on is no complete, clean hive, or no defect:
/// reads its base block (signature, checksum, sequence
/// numbers, version), the header of each bin, and the root key's cell,
/// not the whole file.
HiveDefect WhyNotAHive(int fd);

/// Name of the key whose cell starts at `offset`, as UTF-8; nullopt when the
/// cell is not a key.
std::optional<std::string> KeyNameAt(std::span<const std::uint8_t> image, std::size_t offset);

}  // namespace sorbantilex::offline
