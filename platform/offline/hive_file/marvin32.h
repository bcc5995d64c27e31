#pragma once

#include <cstdint>
#include <span>

namespace sorbantilex::offline {

/// The Marvin32 hash of `data` under a 64-bit seed (its low half seeds the
/// first state word): the checksum Windows stores in each entry of a
/// transaction log.
std::uint64_t Marvin32(std::span<const std::uint8_t> data, std::uint64_t seed);

}  // namespace sorbantilex::offline
