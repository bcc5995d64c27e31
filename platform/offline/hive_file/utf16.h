#pragma once

#include <string_view>

#include "registry/utf8.h"

namespace sorbantilex::offline {

// The string conversions of string values live in the core.
using ::sorbantilex::Utf16LeToUtf8;
using ::sorbantilex::Utf8ToUtf16Le;

/// True when every character is ASCII.
bool IsAscii(std::string_view text);

}  // namespace sorbantilex::offline
