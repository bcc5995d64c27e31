// What the command line prints: nothing from the disk or the command line
// reaches the terminal as a control sequence.

#include "ui/cli/terminal.h"

#include <gtest/gtest.h>

namespace sorbantilex::cli {
namespace {

TEST(Terminal, ShowsControlCharactersEscapedAndKeepsTheRest) {
  struct Case {
    const char* name;
    std::string_view text;
    Breaks breaks;
    std::string_view shown;
  };
  const Case cases[] = {
      {"PlainAndAccented", "Página de inicio ∑ C:\\WINDOWS", Breaks::kKept,
       "Página de inicio ∑ C:\\WINDOWS"},
      {"EscapeSequence", "a\x1b]0;t\x07\x1b[2Jb", Breaks::kKept, "a\\x1b]0;t\\x07\\x1b[2Jb"},
      {"MessageLines", "uno\r\ndos\nres\rx", Breaks::kKept, "uno\ndos\nres\\rx"},
      {"OneLine", "uno\r\ndos\tx", Breaks::kEscaped, "uno\\r\\ndos\\tx"},
      {"DeleteAndNul", std::string_view("\x7f\0", 2), Breaks::kKept, "\\x7f\\x00"},
      {"C1ControlInUtf8",
       "\xc2\x9b"
       "31m",
       Breaks::kKept, "\\u{009b}31m"},
      {"NoUtf8", "\xff\xc3", Breaks::kKept, "\\xff\\xc3"},
      {"ReorderingMarks",
       "a\xe2\x80\xae"
       "b\xe2\x81\xa6",
       Breaks::kKept, "a\\u{202e}b\\u{2066}"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Terminal(c.text, c.breaks), c.shown) << c.name;
  }
}

}  // namespace
}  // namespace sorbantilex::cli
