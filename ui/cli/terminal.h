#pragma once

#include <string>
#include <string_view>

namespace sorbantilex::cli {

/// A text as the terminal shows it: Windows line ends ("\r\n") become "\n".
std::string Terminal(std::string_view text);

}  // namespace sorbantilex::cli
