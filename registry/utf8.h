#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>
#include <string>
#include <string_view>

namespace sorbantilex {

/// Decodes the UTF-8 character that starts at `text[at]`: gives its length
/// in bytes and its code point, or 0 when the bytes there are no valid
/// character (overlong forms and code points past U+10FFFF included).
/// Three-byte surrogates are accepted, so that lone surrogates read from a
/// hive can be written back.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t* code);

/// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t code);

/// The number of UTF-16 code units the text takes, which is how Windows
/// measures names; a byte that is no valid UTF-8 counts as one unit.
std::size_t Utf16Units(std::string_view utf8);

/// UTF-8 text to the UTF-16LE bytes a hive and a registry file store for string values.
/// Every byte sequence round-trips through `Utf16LeToUtf8`: a byte that is
/// not part of valid UTF-8 is kept as the lone surrogate U+DC00 + byte.
std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view utf8);

/// UTF-16LE bytes back to UTF-8. Lone surrogates U+DC80..U+DCFF become the
/// byte they stand for; other lone surrogates are written in the generalised
/// three-byte form; an odd last byte is kept as that byte.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> utf16);

}  // namespace sorbantilex
