#include "log_writer.h"

#include <algorithm>
#include <string_view>

#include "offline_test_support.h"
#include "platform/offline/hive_file/marvin32.h"
#include "platform/offline/hive_file/regf.h"

namespace sorbantilex::offline::testing {

namespace {

constexpr std::size_t kBase = 4096;
constexpr std::size_t kSector = 512;
constexpr std::size_t kPage = 4096;
constexpr std::uint64_t kEntrySeed = 0x82EF4D887A4E55C5;
constexpr std::uint64_t kStamp = 0x01D3C5ACA3518D62;

void Put64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  Put32(b, at, static_cast<std::uint32_t>(v));
  Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

std::size_t BinsSize(std::span<const std::uint8_t> image) { return Get32(image, 40); }

// Whether the hive bins data of the two images differ in [at, at + length).
bool Differs(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
             std::size_t at, std::size_t length) {
  const std::size_t from = kBase + at;
  if (before.size() < from + length) return true;
  return !std::equal(after.begin() + from, after.begin() + from + length, before.begin() + from);
}

}  // namespace

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void Put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

std::vector<std::uint8_t> MakeHiveImage(std::size_t bins, std::uint32_t sequence) {
  std::vector<std::uint8_t> image(kBase + bins * kPage, 0);
  std::copy_n("regf", 4, image.begin());
  Put64(image, 12, kStamp);
  Put32(image, 20, 1);  // major version
  Put32(image, 24, 5);  // minor version
  Put32(image, 32, 1);  // direct memory load
  Put32(image, 36, 0x20);
  Put32(image, 40, static_cast<std::uint32_t>(bins * kPage));
  Put32(image, 44, 1);  // clustering factor
  constexpr std::u16string_view kName = u"\\??\\C:\\Users\\prueba\\ntuser.dat";
  for (std::size_t k = 0; k < kName.size(); ++k) {
    image[48 + 2 * k] = static_cast<std::uint8_t>(kName[k]);
    image[48 + 2 * k + 1] = static_cast<std::uint8_t>(kName[k] >> 8);
  }
  for (std::size_t k = 0; k < 16; ++k) {
    image[112 + k] = static_cast<std::uint8_t>(0xA0 + k);  // resource manager
    image[128 + k] = static_cast<std::uint8_t>(0xA0 + k);  // log
    image[148 + k] = static_cast<std::uint8_t>(0xB0 + k);  // transaction manager
  }
  std::copy_n("rmtm", 4, image.begin() + 164);
  SetSequences(image, sequence, sequence);
  for (std::size_t bin = 0; bin < bins; ++bin) {
    const std::size_t at = kBase + bin * kPage;
    std::copy_n("hbin", 4, image.begin() + at);
    Put32(image, at + 4, static_cast<std::uint32_t>(bin * kPage));
    Put32(image, at + 8, kPage);
    if (bin == 0) Put64(image, at + 20, kStamp);
    Touch(image, bin, static_cast<std::uint8_t>(bin + 1));
  }
  return image;
}

void Touch(std::vector<std::uint8_t>& image, std::size_t bin, std::uint8_t fill) {
  const std::size_t at = kBase + bin * kPage;
  std::fill(image.begin() + at + 32, image.begin() + at + kPage, fill);
}

void Grow(std::vector<std::uint8_t>& image, std::uint8_t fill) {
  const std::size_t offset = BinsSize(image);
  image.resize(kBase + offset + kPage, 0);
  const std::size_t at = kBase + offset;
  std::copy_n("hbin", 4, image.begin() + at);
  Put32(image, at + 4, static_cast<std::uint32_t>(offset));
  Put32(image, at + 8, kPage);
  Touch(image, offset / kPage, fill);
  Put32(image, 40, static_cast<std::uint32_t>(offset + kPage));
  SealBaseBlock(image);
}

void SetSequences(std::vector<std::uint8_t>& image, std::uint32_t first, std::uint32_t second) {
  Put32(image, 4, first);
  Put32(image, 8, second);
  SealBaseBlock(image);
}

NewLogWriter::NewLogWriter(std::span<const std::uint8_t> hive, std::uint32_t first_sequence)
    : bytes_(hive.begin(), hive.begin() + kSector) {
  Put32(bytes_, 4, first_sequence);
  Put32(bytes_, 8, first_sequence);
  Put32(bytes_, 28, 6);
  SealBaseBlock(bytes_);
}

std::size_t NewLogWriter::Add(std::uint32_t sequence, std::span<const std::uint8_t> before,
                              std::span<const std::uint8_t> after) {
  std::vector<std::uint32_t> pages;
  for (std::size_t at = 0; at < BinsSize(after); at += kPage) {
    if (Differs(before, after, at, kPage)) pages.push_back(static_cast<std::uint32_t>(at));
  }
  const std::size_t start = bytes_.size();
  const std::size_t pages_at = start + 40 + 8 * pages.size();
  // The pages follow the references; the entry is padded to end at a
  // 4096-byte boundary of the log.
  const std::size_t end = (pages_at + pages.size() * kPage + kPage - 1) / kPage * kPage;
  bytes_.resize(end, 0);
  const std::span<std::uint8_t> entry(bytes_.data() + start, bytes_.size() - start);
  std::copy_n("HvLE", 4, entry.begin());
  Put32(entry, 4, static_cast<std::uint32_t>(entry.size()));
  Put32(entry, 8, Get32(after, 144) & 1);
  Put32(entry, 12, sequence);
  Put32(entry, 16, static_cast<std::uint32_t>(BinsSize(after)));
  Put32(entry, 20, static_cast<std::uint32_t>(pages.size()));
  for (std::size_t k = 0; k < pages.size(); ++k) {
    Put32(entry, 40 + 8 * k, pages[k]);
    Put32(entry, 44 + 8 * k, kPage);
    std::copy_n(after.begin() + kBase + pages[k], kPage, bytes_.begin() + pages_at + k * kPage);
  }
  Rehash(start);
  return start;
}

void NewLogWriter::Rehash(std::size_t at) {
  const std::size_t size = std::min<std::size_t>(Get32(bytes_, at + 4), bytes_.size() - at);
  const std::span<std::uint8_t> entry(bytes_.data() + at, size);
  Put64(entry, 24, Marvin32(entry.subspan(40), kEntrySeed));
  Put64(entry, 32, Marvin32(entry.first(32), kEntrySeed));
}

std::vector<std::uint8_t> OldFormatLog(std::span<const std::uint8_t> before,
                                       std::span<const std::uint8_t> after) {
  std::vector<std::uint8_t> log(after.begin(), after.begin() + kSector);
  Put32(log, 4, Get32(after, 4));
  Put32(log, 8, Get32(after, 4));
  Put32(log, 28, 1);
  SealBaseBlock(log);
  const std::size_t bits = BinsSize(after) / kSector;
  std::vector<std::uint8_t> vector(4 + (bits + 7) / 8, 0);
  std::copy_n("DIRT", 4, vector.begin());
  std::vector<std::uint8_t> pages;
  for (std::size_t bit = 0; bit < bits; ++bit) {
    if (!Differs(before, after, bit * kSector, kSector)) continue;
    vector[4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    pages.insert(pages.end(), after.begin() + kBase + bit * kSector,
                 after.begin() + kBase + (bit + 1) * kSector);
  }
  log.insert(log.end(), vector.begin(), vector.end());
  log.resize((log.size() + kSector - 1) / kSector * kSector, 0);
  log.insert(log.end(), pages.begin(), pages.end());
  return log;
}

void LeaveDirty(const std::filesystem::path& hive, const std::vector<std::uint8_t>& before,
                const std::string& log_name) {
  const std::vector<std::uint8_t> after = ReadBytes(hive);
  const std::uint32_t sequence = Get32(before, 8);
  NewLogWriter log(before, sequence);
  log.Add(sequence, before, after);
  WriteBytes(hive.parent_path() / log_name, log.bytes());
  auto dirty = before;
  SetSequences(dirty, sequence + 1, sequence);
  WriteBytes(hive, dirty);
}

}  // namespace sorbantilex::offline::testing
