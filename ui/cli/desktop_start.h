#pragma once

// The desktop window as the command line starts it. The window is a program
// of its own, sorbantilex-desktop, so that the command line never loads Qt:
// sorbantilex hands over to it. Builds without Qt have no window: the command
// line then always stays in charge.

#include "ui/cli/options.h"

namespace sorbantilex::cli {

/// The desktop program's file name.
inline constexpr const char* kDesktopProgram = "sorbantilex-desktop";

/// True when this build has the desktop window and a display to open it on.
bool DesktopAvailable();

/// Replaces the process with the desktop program, handing it the same
/// arguments. Returns only when it cannot, after saying why on standard
/// error, with the exit code.
int StartDesktop(int& argc, char** argv, const Options& options);

}  // namespace sorbantilex::cli
