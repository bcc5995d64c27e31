#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorbantilex::win32 {

/// UTF-8 to UTF-16. False when `text` is not valid UTF-8 (then `*wide` is
/// unspecified). Embedded zeros are kept.
bool Utf8ToWide(std::string_view text, std::wstring* wide);
/// UTF-8 to UTF-16, invalid sequences replaced by U+FFFD.
std::wstring Wide(std::string_view text);
/// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD. Embedded zeros are
/// kept.
std::string Utf8(std::wstring_view text);

/// The system's message text for a Windows error code or an HRESULT, in
/// UTF-8 with the trailing line break removed; empty when the system has
/// none.
std::string SystemMessage(std::uint32_t code);

}  // namespace sorbantilex::win32
