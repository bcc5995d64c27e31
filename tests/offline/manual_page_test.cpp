// The manual page and the program do not drift apart: every option of
// --help and every task key of --list is in the page, and the page names no
// option or task key the program does not have.

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>

#include "app/task_catalog.h"
#include "offline_test_support.h"

namespace sorbantilex::offline::testing {
namespace {

std::string Output(const std::string& arguments) {
  std::string output;
  FILE* pipe = ::popen(("'" + std::string(SORBANTILEX_CLI) + "' " + arguments).c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

// The page's text with roff's escaped hyphens as plain ones, without the
// lines of its examples that run other programs (their options are theirs).
std::string ManualPage() {
  std::ifstream in(SORBANTILEX_MANUAL);
  std::string text;
  bool example = false;
  for (std::string line; std::getline(in, line);) {
    if (line == ".EX") example = true;
    if (line == ".EE") example = false;
    if (example && line.find("sorbantilex") == std::string::npos) continue;
    text += line + "\n";
  }
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

std::set<std::string> Matches(const std::string& text, const std::regex& pattern) {
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

TEST(ManualPage, HasEveryOptionOfHelpAndNoOther) {
  const std::regex option(R"((?:^|[^\w-])(--?[a-z][a-z-]*))");
  const auto in_help = Matches(Output("--help"), option);
  ASSERT_TRUE(in_help.count("--windows")) << "no options read from --help";
  EXPECT_EQ(Matches(ManualPage(), option), in_help);
}

TEST(ManualPage, DescribesEveryTaskKeyAndNoOther) {
  // --list: one key a line, before its caption; the page: one ".B key" line
  // each, in the REPARACIONES section.
  const auto listed = Matches(Output("--list"), std::regex(R"((?:^|\n)([a-z-]+) )"));
  std::size_t boxes = 0;
  for (const Step& step : kSteps) boxes += step.HasBox() ? 1 : 0;
  ASSERT_EQ(listed.size(), boxes);
  const std::string page = ManualPage();
  const auto begin = page.find(".SH REPARACIONES");
  const auto end = page.find(".SH", begin + 1);
  ASSERT_NE(begin, std::string::npos);
  EXPECT_EQ(Matches(page.substr(begin, end - begin), std::regex(R"(\n\.B ([a-z-]+)\n)")), listed);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
