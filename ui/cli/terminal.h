#pragma once

#include <string>
#include <string_view>

namespace sorbantilex::cli {

/// Whether a printed text may span lines.
enum class Breaks {
  kKept,     // a message: its line breaks stay ("\r\n" becomes "\n")
  kEscaped,  // one line of a list: line breaks are shown as "\n" and "\r"
};

/// A text as the terminal shows it. Everything the command line prints goes
/// through here, since much of it comes from the disk (key names, values,
/// file names) or from the command line: control characters (C0 but the
/// kept line break, DEL, C1), bytes that are no UTF-8, lone surrogates and
/// the marks that reorder text (bidirectional overrides and isolates) are
/// shown escaped, as "\t", "\x1b" or "\u{202e}", so that no text can move
/// the cursor, recolour, retitle or rewrite the terminal.
std::string Terminal(std::string_view text, Breaks breaks = Breaks::kKept);

}  // namespace sorbantilex::cli
