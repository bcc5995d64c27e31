#include "platform/offline/hive_file/marvin32.h"

#include <bit>

namespace sorbantilex::offline {

namespace {

void Mix(std::uint32_t& low, std::uint32_t& high) {
  high ^= low;
  low = std::rotl(low, 20) + high;
  high = std::rotl(high, 9) ^ low;
  low = std::rotl(low, 27) + high;
  high = std::rotl(high, 19);
}

}  // namespace

std::uint64_t Marvin32(std::span<const std::uint8_t> data, std::uint64_t seed) {
  auto low = static_cast<std::uint32_t>(seed);
  auto high = static_cast<std::uint32_t>(seed >> 32);
  std::size_t at = 0;
  for (; data.size() - at >= 4; at += 4) {
    low += static_cast<std::uint32_t>(data[at]) | (static_cast<std::uint32_t>(data[at + 1]) << 8) |
           (static_cast<std::uint32_t>(data[at + 2]) << 16) |
           (static_cast<std::uint32_t>(data[at + 3]) << 24);
    Mix(low, high);
  }
  // The last one to three bytes, followed by a 0x80 byte, as one more word.
  std::uint32_t last = 0x80;
  for (std::size_t k = data.size(); k > at; --k) last = (last << 8) | data[k - 1];
  low += last;
  Mix(low, high);
  Mix(low, high);
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace sorbantilex::offline
