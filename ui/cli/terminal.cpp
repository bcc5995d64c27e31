#include "ui/cli/terminal.h"

namespace sorbantilex::cli {

std::string Terminal(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace sorbantilex::cli
