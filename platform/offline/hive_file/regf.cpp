#include "platform/offline/hive_file/regf.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <stdexcept>

#include "platform/offline/safe_files.h"
#include "platform/offline/hive_file/utf16.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace {

constexpr std::size_t kBaseBlockSize = 0x1000;
constexpr std::size_t kBinSize = 0x1000;
constexpr std::uint16_t kKeyCompressedName = 0x20;

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}
void Put64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  for (int k = 0; k < 8; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

std::uint32_t Checksum(std::span<const std::uint8_t> base) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 508; at += 4) sum ^= Get32(base, at);
  if (sum == 0xFFFFFFFFu) return 0xFFFFFFFEu;
  if (sum == 0) return 1;
  return sum;
}

std::uint64_t FileTimeNow() {
  const auto since_1970 = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return (static_cast<std::uint64_t>(since_1970.count()) + 11644473600ull * 1000000ull) * 10ull;
}

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// a DACL inherited by subkeys granting SYSTEM and Administrators full
// control and Users read access.
std::vector<std::uint8_t> DefaultSecurityDescriptor() {
  std::vector<std::uint8_t> sd(20);
  auto sid = [](std::vector<std::uint8_t>& out, std::initializer_list<std::uint32_t> subs) {
    out.push_back(1);
    out.push_back(static_cast<std::uint8_t>(subs.size()));
    for (const std::uint8_t a : {0, 0, 0, 0, 0, 5}) out.push_back(a);
    for (const auto sub : subs) {
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(sub >> (8 * k)));
    }
  };
  struct Ace {
    std::uint32_t mask;
    std::initializer_list<std::uint32_t> sid;
  };
  const Ace aces[] = {{0xF003F, {18}}, {0xF003F, {32, 544}}, {0x20019, {32, 545}}};
  std::vector<std::uint8_t> dacl(8);
  for (const auto& ace : aces) {
    std::vector<std::uint8_t> body;
    sid(body, ace.sid);
    const auto size = static_cast<std::uint16_t>(8 + body.size());
    dacl.push_back(0);     // access allowed
    dacl.push_back(0x02);  // inherited by subkeys
    dacl.push_back(static_cast<std::uint8_t>(size));
    dacl.push_back(static_cast<std::uint8_t>(size >> 8));
    for (int k = 0; k < 4; ++k) dacl.push_back(static_cast<std::uint8_t>(ace.mask >> (8 * k)));
    dacl.insert(dacl.end(), body.begin(), body.end());
  }
  dacl[0] = 2;
  Put16(dacl, 2, static_cast<std::uint16_t>(dacl.size()));
  Put16(dacl, 4, 3);

  sd[0] = 1;
  Put16(sd, 2, 0x8004);  // self-relative, DACL present
  Put32(sd, 16, 20);     // DACL
  sd.insert(sd.end(), dacl.begin(), dacl.end());
  Put32(sd, 4, static_cast<std::uint32_t>(sd.size()));  // owner
  sid(sd, {32, 544});
  Put32(sd, 8, static_cast<std::uint32_t>(sd.size()));  // group
  sid(sd, {18});
  return sd;
}

std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

}  // namespace

namespace {

std::optional<BaseBlock> ParseBaseBlock(std::span<const std::uint8_t> head) {
  if (std::memcmp(head.data(), "regf", 4) != 0) return std::nullopt;
  BaseBlock block;
  block.sequence1 = Get32(head, 4);
  block.sequence2 = Get32(head, 8);
  block.major = Get32(head, 20);
  block.minor = Get32(head, 24);
  block.root_cell = Get32(head, 36);
  block.bins_size = Get32(head, 40);
  block.checksum_ok = Get32(head, 508) == Checksum(head);
  return block;
}

// Reads the heads of a hive's bins, which lie a page or more apart all
// through the file, a quarter of a megabyte at a time rather than with a
// read per bin. (Not through a mapping: a disk that fails to read would
// end the program with a signal instead of a message.)
class BinHeads {
 public:
  BinHeads(int fd, std::uint64_t end) : fd_(fd), end_(end) {}

  bool Read(std::span<std::uint8_t> head, std::uint64_t at) {
    if (at + head.size() > end_) return false;
    if (at < start_ || at + head.size() > start_ + length_) {
      start_ = at;
      length_ = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_.size(), end_ - at));
      if (!ReadAt(fd_, chunk_.data(), length_, start_)) {
        length_ = 0;
        return false;
      }
    }
    std::memcpy(head.data(), chunk_.data() + (at - start_), head.size());
    return true;
  }

 private:
  int fd_;
  std::uint64_t end_;
  std::vector<std::uint8_t> chunk_ = std::vector<std::uint8_t>(std::size_t{256} << 10);
  std::uint64_t start_ = 0;
  std::size_t length_ = 0;
};

}  // namespace

std::optional<BaseBlock> ReadBaseBlock(const std::filesystem::path& path) {
  const OpenedFile file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  return ReadBaseBlock(file.fd.get());
}

std::optional<BaseBlock> ReadBaseBlock(int fd) {
  std::array<std::uint8_t, 512> head{};
  if (!ReadAt(fd, head.data(), head.size(), 0)) return std::nullopt;
  return ParseBaseBlock(head);
}

HiveDefect CheckBins(int fd, std::uint64_t file_size, std::uint32_t bins_size) {
  using What = HiveDefect::What;
  const std::uint64_t end = kBaseBlockSize + std::uint64_t{bins_size};
  if (bins_size == 0 || bins_size % kBinSize != 0) return {What::kImpossibleBinsSize, bins_size};
  if (file_size < end) return {What::kShorterThanHeader, end, file_size};
  const std::uint64_t padding_allowed = std::max<std::uint64_t>(bins_size, 16u << 20);
  if (file_size - end > padding_allowed) return {What::kDataBeyondHeader, file_size - end};
  BinHeads heads(fd, end);
  std::uint64_t at = kBaseBlockSize;
  while (at < end) {
    std::array<std::uint8_t, 12> head{};
    if (!heads.Read(head, at)) return {What::kUnreadableAt, at};
    const std::uint32_t offset = Get32(head, 4);
    const std::uint32_t size = Get32(head, 8);
    if (std::memcmp(head.data(), "hbin", 4) != 0 || offset != at - kBaseBlockSize ||
        size < kBinSize || size % kBinSize != 0 || size > end - at) {
      return {What::kBinsMismatchAt, at};
    }
    at += size;
  }
  return {};
}

void WriteBlankHive(const std::filesystem::path& path, std::string_view root_name,
                    std::uint32_t minor_version) {
  if (root_name.empty() || root_name.size() > 255 || !IsAscii(root_name)) {
    throw std::invalid_argument("invalid root key name");
  }
  std::vector<std::uint8_t> image(kBaseBlockSize + kBinSize, 0);
  const std::span<std::uint8_t> all(image);
  const std::uint64_t now = FileTimeNow();

  // The bin and its cells. Cell offsets are relative to the first bin.
  const auto bin = all.subspan(kBaseBlockSize);
  std::memcpy(bin.data(), "hbin", 4);
  Put32(bin, 4, 0);
  Put32(bin, 8, kBinSize);
  Put64(bin, 20, now);

  const std::uint32_t root_cell = 0x20;
  const std::size_t nk_size = Align8(4 + 76 + root_name.size());
  const auto sd = DefaultSecurityDescriptor();
  const auto sk_cell = static_cast<std::uint32_t>(root_cell + nk_size);
  const std::size_t sk_size = Align8(4 + 20 + sd.size());
  const auto free_cell = static_cast<std::uint32_t>(sk_cell + sk_size);

  const auto nk = bin.subspan(root_cell);
  Put32(nk, 0, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nk_size)));
  nk[4] = 'n', nk[5] = 'k';
  Put16(nk, 6, 0x2C);  // hive entry, not deletable, compressed name
  Put64(nk, 8, now);
  Put32(nk, 20, 0xFFFFFFFFu);  // no parent
  Put32(nk, 32, 0xFFFFFFFFu);  // no subkey list
  Put32(nk, 36, 0xFFFFFFFFu);  // no volatile subkey list
  Put32(nk, 44, 0xFFFFFFFFu);  // no value list
  Put32(nk, 48, sk_cell);
  Put32(nk, 52, 0xFFFFFFFFu);  // no class name
  Put16(nk, 76, static_cast<std::uint16_t>(root_name.size()));
  std::memcpy(nk.data() + 80, root_name.data(), root_name.size());

  const auto sk = bin.subspan(sk_cell);
  Put32(sk, 0, static_cast<std::uint32_t>(-static_cast<std::int32_t>(sk_size)));
  sk[4] = 's', sk[5] = 'k';
  Put32(sk, 8, sk_cell);  // the only descriptor: its own neighbour both ways
  Put32(sk, 12, sk_cell);
  Put32(sk, 16, 1);
  Put32(sk, 20, static_cast<std::uint32_t>(sd.size()));
  std::memcpy(sk.data() + 24, sd.data(), sd.size());

  Put32(bin, free_cell, static_cast<std::uint32_t>(kBinSize - free_cell));

  const auto base = all.first(kBaseBlockSize);
  std::memcpy(base.data(), "regf", 4);
  Put32(base, 4, 1);
  Put32(base, 8, 1);
  Put64(base, 12, now);
  Put32(base, 20, 1);
  Put32(base, 24, minor_version);
  Put32(base, 28, 0);  // primary file
  Put32(base, 32, 1);  // direct memory load format
  Put32(base, 36, root_cell);
  Put32(base, 40, kBinSize);
  Put32(base, 44, 1);
  const auto file_name = Utf8ToUtf16Le(root_name.substr(0, 31));
  std::memcpy(base.data() + 48, file_name.data(), file_name.size());
  SealBaseBlock(base);

  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) throw Error(ErrorKind::kWriteFailed, path, errno);
}

std::optional<std::string> KeyNameAt(std::span<const std::uint8_t> image, std::size_t offset) {
  if (offset + 4 + 76 > image.size() || image[offset + 4] != 'n' || image[offset + 5] != 'k') {
    return std::nullopt;
  }
  const std::uint16_t flags = Get16(image, offset + 6);
  const std::size_t length = Get16(image, offset + 4 + 72);
  const std::size_t start = offset + 4 + 76;
  if (start + length > image.size()) return std::nullopt;
  const auto bytes = image.subspan(start, length);
  if (flags & kKeyCompressedName) {
    std::string name;
    for (const auto b : bytes) {
      if (b < 0x80) {
        name += static_cast<char>(b);
      } else {
        name += static_cast<char>(0xC0 | (b >> 6));
        name += static_cast<char>(0x80 | (b & 0x3F));
      }
    }
    return name;
  }
  return Utf16LeToUtf8(bytes);
}

bool SortSubkeyLists(std::span<std::uint8_t> image, std::span<const std::size_t> keys) {
  const std::span<std::uint8_t> all(image);
  auto cell_ok = [&](std::size_t at, std::size_t need) { return at + need <= image.size(); };
  bool understood = true;
  for (const std::size_t key : keys) {
    if (!KeyNameAt(all, key)) {
      understood = false;
      continue;
    }
    const std::uint32_t list_rel = Get32(all, key + 4 + 28);
    if (list_rel == 0xFFFFFFFFu) continue;
    const std::size_t list = kBaseBlockSize + list_rel;
    if (!cell_ok(list, 8)) {
      understood = false;
      continue;
    }
    // The leaves: the list itself, or the lists an index-root names.
    std::vector<std::size_t> leaves;
    if (all[list + 4] == 'r' && all[list + 5] == 'i') {
      const std::size_t count = Get16(all, list + 6);
      if (!cell_ok(list + 8, count * 4)) {
        understood = false;
        continue;
      }
      for (std::size_t k = 0; k < count; ++k) {
        leaves.push_back(kBaseBlockSize + Get32(all, list + 8 + 4 * k));
      }
    } else {
      leaves.push_back(list);
    }
    // Every leaf must be of one kind so that entries can move between them.
    std::size_t entry_size = 0;
    bool same_kind = true;
    struct Entry {
      std::array<std::uint8_t, 8> bytes{};
      std::string upper;
    };
    std::vector<Entry> entries;
    for (const std::size_t leaf : leaves) {
      if (!cell_ok(leaf, 8)) {
        same_kind = false;
        break;
      }
      const char a = static_cast<char>(all[leaf + 4]);
      const char b = static_cast<char>(all[leaf + 5]);
      const std::size_t size = (a == 'l' && (b == 'h' || b == 'f')) ? 8
                               : (a == 'l' && b == 'i')             ? 4
                                                                    : 0;
      if (size == 0 || (entry_size != 0 && size != entry_size)) {
        same_kind = false;
        break;
      }
      entry_size = size;
      const std::size_t count = Get16(all, leaf + 6);
      if (!cell_ok(leaf + 8, count * size)) {
        same_kind = false;
        break;
      }
      for (std::size_t k = 0; k < count; ++k) {
        Entry entry;
        std::memcpy(entry.bytes.data(), all.data() + leaf + 8 + k * size, size);
        const auto name = KeyNameAt(all, kBaseBlockSize + Get32(entry.bytes, 0));
        if (!name) {
          same_kind = false;
          break;
        }
        entry.upper = UpperName(*name);
        entries.push_back(std::move(entry));
      }
      if (!same_kind) break;
    }
    if (!same_kind) {
      understood = false;
      continue;
    }
    if (std::is_sorted(entries.begin(), entries.end(),
                       [](const Entry& x, const Entry& y) { return x.upper < y.upper; })) {
      continue;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& x, const Entry& y) { return x.upper < y.upper; });
    std::size_t next = 0;
    for (const std::size_t leaf : leaves) {
      const std::size_t count = Get16(all, leaf + 6);
      for (std::size_t k = 0; k < count; ++k, ++next) {
        std::memcpy(all.data() + leaf + 8 + k * entry_size, entries[next].bytes.data(), entry_size);
      }
    }
  }
  return understood;
}

bool BaseBlockChecksumOk(std::span<const std::uint8_t> base_block) {
  return base_block.size() >= 512 && Get32(base_block, 508) == Checksum(base_block);
}

bool SortSubkeyListsInPlace(int fd, std::span<const std::size_t> keys) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || status.st_size <= 0) return false;
  const auto size = static_cast<std::size_t>(status.st_size);
  void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped != MAP_FAILED) {
    const bool sorted = SortSubkeyLists({static_cast<std::uint8_t*>(mapped), size}, keys);
    return ::munmap(mapped, size) == 0 && sorted;
  }
  // Where the file system cannot map the file: one read, one write.
  std::vector<std::uint8_t> image(size);
  return ReadAt(fd, image.data(), size, 0) && SortSubkeyLists(image, keys) &&
         WriteAt(fd, image.data(), size, 0);
}

HiveDefect WhyNotAHive(int fd) {
  using What = HiveDefect::What;
  struct stat status {};
  const auto base = ReadBaseBlock(fd);
  if (!base || ::fstat(fd, &status) != 0) return {What::kNoHeader};
  if (!base->checksum_ok || base->major != 1) return {What::kBadHeader};
  if (base->Dirty()) return {What::kSequenceMismatch};
  if (const auto defect =
          CheckBins(fd, static_cast<std::uint64_t>(status.st_size), base->bins_size)) {
    return defect;
  }
  std::array<std::uint8_t, 6> root{};
  if (std::uint64_t{base->root_cell} + root.size() > base->bins_size ||
      !ReadAt(fd, root.data(), root.size(), kBaseBlockSize + base->root_cell) || root[4] != 'n' ||
      root[5] != 'k') {
    return {What::kNoRootKey};
  }
  return {};
}

void SealBaseBlock(std::span<std::uint8_t> image) { Put32(image, 508, Checksum(image)); }

}  // namespace sorbantilex::offline
