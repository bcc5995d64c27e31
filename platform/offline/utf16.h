#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorbantilex::offline {

/// UTF-8 text to the UTF-16LE bytes a hive stores for string values.
/// Every byte sequence round-trips through `Utf16LeToUtf8`: a byte that is
/// not part of valid UTF-8 is kept as the lone surrogate U+DC00 + byte.
std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view utf8);

/// UTF-16LE bytes back to UTF-8. Lone surrogates U+DC80..U+DCFF become the
/// byte they stand for; other lone surrogates are written in the generalised
/// three-byte form; an odd last byte is kept as that byte.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> utf16);

/// True when every character is ASCII.
bool IsAscii(std::string_view text);

}  // namespace sorbantilex::offline
