#include "rescue/command_log.h"

#include <fstream>

namespace sorbantilex::rescue {
namespace {

// The command as a shell would take it back.
std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line = "$";
  for (const std::string& arg : argv) {
    const bool quote = arg.empty() || arg.find_first_of(" \t\n'\"\\$") != std::string::npos;
    line += " " + (quote ? "'" + arg + "'" : arg);
  }
  return line;
}

}  // namespace

CommandLog::CommandLog(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}

void CommandLog::Add(std::string_view text) {
  std::string entry(text);
  if (!entry.empty() && entry.back() != '\n') entry += '\n';
  const std::scoped_lock lock(mutex_);
  text_ += entry;
  if (!file_) return;
  std::ofstream out(*file_, std::ios::app | std::ios::binary);
  out << entry;
  out.flush();
  if (!out) file_.reset();
}

std::string CommandLog::Text() const {
  const std::scoped_lock lock(mutex_);
  return text_;
}

CommandResult LoggedCommands::Run(const std::vector<std::string>& argv) {
  return Logged(argv, inner_.Run(argv));
}

CommandResult LoggedCommands::RunWith(const std::vector<std::string>& argv,
                                      const RunOptions& options) {
  return Logged(argv, inner_.RunWith(argv, options));
}

CommandResult LoggedCommands::Logged(const std::vector<std::string>& argv, CommandResult result) {
  std::string entry = CommandLine(argv) + "\n" + result.output;
  if (!result.output.empty() && result.output.back() != '\n') entry += '\n';
  entry += result.status == -1 ? "(no se pudo ejecutar o terminó de forma anormal)"
                               : "(estado " + std::to_string(result.status) + ")";
  log_.Add(entry);
  return result;
}

}  // namespace sorbantilex::rescue
