#pragma once

// What the rescue system ran and heard: the log behind "Ver el registro",
// shared by its window and its console.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rescue/volumes.h"

namespace sorbantilex::rescue {

/// Everything the rescue system ran and heard: kept in memory and, when a
/// file is given, appended to it as it comes (a file that cannot be written
/// is given up, the memory copy stays). Safe to add to from several threads.
class CommandLog {
 public:
  explicit CommandLog(std::optional<std::filesystem::path> file = std::nullopt);
  void Add(std::string_view text);
  std::string Text() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
  std::optional<std::filesystem::path> file_;
};

/// Runs each program through `inner` and writes it, with its output and its
/// exit status, to `log`.
class LoggedCommands final : public Commands {
 public:
  LoggedCommands(Commands& inner, CommandLog& log) : inner_(inner), log_(log) {}
  CommandResult Run(const std::vector<std::string>& argv) override;
  CommandResult RunWith(const std::vector<std::string>& argv, const RunOptions& options) override;

 private:
  CommandResult Logged(const std::vector<std::string>& argv, CommandResult result);
  Commands& inner_;
  CommandLog& log_;
};

}  // namespace sorbantilex::rescue
