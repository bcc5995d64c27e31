#pragma once

// What the rescue window does when the user chooses a volume: which message
// it shows, what it asks, how it mounts the volume, how it runs the repair
// on it and leaves it. The window (rescue_window.h) draws and asks; every
// decision is here, over `rescue::Commands`, so that it runs on fake disks.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rescue/command_log.h"
#include "rescue/volumes.h"
#include "ui/text/rescue_messages.h"

namespace sorbantilex::desktop {

/// Where the rescue system keeps its log: /run/sorbantilex/registro.txt
/// when /run/sorbantilex exists (the live system makes it), else nowhere.
std::optional<std::filesystem::path> RescueLogFile();

using RescueLog = rescue::CommandLog;
using rescue::LoggedCommands;

/// The repair of an installation mounted at a folder (the window runs
/// `sorbantilex-desktop --windows FOLDER` as a process of its own).
class RepairProgram {
 public:
  struct Result {
    bool started = false;  // false: it could not be started (`errors` says why)
    bool crashed = false;  // it did not exit by itself
    bool stopped = false;  // ended by `Stop`
    int exit_code = -1;
    std::string output;  // its standard output: the change report
    std::string errors;  // its standard error
  };
  RepairProgram() = default;
  virtual ~RepairProgram() = default;
  RepairProgram(const RepairProgram&) = delete;
  RepairProgram& operator=(const RepairProgram&) = delete;
  virtual Result Run(const std::filesystem::path& installation) = 0;
  /// Ends the repair under way, when the user gives up on it (without a
  /// window manager its window has no close button). Its changes are saved
  /// when a run ends, so before one there is nothing to lose.
  virtual void Stop() {}
};

/// What the user is told and asked on the way.
class RescueQuestions {
 public:
  RescueQuestions() = default;
  virtual ~RescueQuestions() = default;
  RescueQuestions(const RescueQuestions&) = delete;
  RescueQuestions& operator=(const RescueQuestions&) = delete;
  virtual void Tell(const std::string& text) = 0;
  /// One of `options` (offered in their order, besides "Cancelar", which is
  /// the default); nullopt when the user cancels.
  virtual std::optional<text::HibernationWay> ChooseWay(
      const std::string& explanation, const std::vector<text::HibernationOption>& options) = 0;
  /// Whether to try once more to unmount the volume after `problem`.
  virtual bool RetryUnmount(const std::string& problem) = 0;
};

/// What a repair left.
struct RepairOutcome {
  bool done = false;   // the repair ran to its end (exit status 0)
  std::string status;  // "Reparación terminada" / "La reparación no terminó: ..."
  std::string report;  // the change report the repair printed
  /// Empty when the volume was unmounted; else what went wrong and what to
  /// do (the volume stays mounted: the PC must not be powered off).
  std::string unmount_problem;
};

/// A keyboard layout the rescue system offers.
struct KeyboardLayout {
  const char* name;  // "Español"
  const char* code;  // setxkbmap's: "es"
};
/// The layouts offered, Spanish (Spain) first: it is the one set at start.
const std::vector<KeyboardLayout>& KeyboardLayouts();

class RescueFlow {
 public:
  RescueFlow(rescue::Commands& commands, rescue::Places places, RepairProgram& repair,
             RescueQuestions& questions)
      : commands_(commands), places_(std::move(places)), repair_(repair), questions_(questions) {}

  /// "Reparar…" on `volume`: a volume that cannot be repaired is explained;
  /// for a hibernated one the user chooses a way out (or cancels); then the
  /// volume is mounted read-write (dropping the hibernation file after the
  /// journal's replay or when the user chose to), repaired and unmounted. Nothing on the
  /// disk changes before the user has chosen so. Returns nullopt when no
  /// repair ran (the user was told why, or cancelled).
  std::optional<RepairOutcome> Repair(const rescue::Volume& volume);

  /// Sets the keyboard layout (setxkbmap); false, after telling the user,
  /// when it could not.
  bool SetKeyboard(const std::string& code);

 private:
  std::optional<RepairOutcome> RepairMounted(const rescue::Volume& volume,
                                             rescue::Mount::Mode mode);
  RepairOutcome Outcome(const RepairProgram::Result& result) const;

  rescue::Commands& commands_;
  rescue::Places places_;
  RepairProgram& repair_;
  RescueQuestions& questions_;
};

}  // namespace sorbantilex::desktop
