#pragma once

// The command line's options: what they are, how they are read, and which
// front end they call for.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/task_catalog.h"

namespace sorbantilex::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Options {
  std::optional<std::filesystem::path> windows;
  std::vector<std::string> users;  // --user, each once; none: every profile
  std::vector<const Step*> tasks;  // the boxes --task names, in the order given
  bool all = false;
  std::optional<std::string> start_page;
  bool dry_run = false;
  bool report = false;  // --informe: what each repair would change, nothing written
  bool json = false;    // --json, with --informe
  bool rescue = false;  // --rescate: the rescue window, alone
};

/// Reads the options. Returns nullopt when the program has already answered
/// (--help, --version, --list; `early_exit` 0) or after a usage message on
/// standard error (`early_exit` 2).
std::optional<Options> Parse(int argc, char** argv, int* early_exit);

/// True when a graphical session is there to open windows on (an X11 or
/// Wayland display, or a Qt platform chosen explicitly).
bool DisplayAvailable();

/// True when the desktop window should open: a display is available and no
/// option asks for work of the command line (a repair to tick, --all, a dry
/// run, an answer for the start-page dialog, a report). --windows and --user
/// only say where the window opens; --rescate opens the rescue window.
bool OpensDesktop(const Options& options, bool display_available);

}  // namespace sorbantilex::cli
