#pragma once

// The desktop window as the command line starts it. Builds without Qt have
// no window: the command line then always stays in charge.

#include "ui/cli/options.h"

namespace sorbantilex::cli {

/// True when this build has the desktop window and a display to open it on.
bool DesktopAvailable();

/// Opens the window on the installations and profiles the options name (see
/// `FindDesktopTargets`). Returns only when the program ends before the main
/// window opens, with the exit code; every later end exits the process.
int StartDesktop(int& argc, char** argv, const Options& options);

}  // namespace sorbantilex::cli
