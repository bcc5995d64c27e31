#pragma once

// sorbantilex-rescate: the rescue system's console. Unattended (--auto), it
// repairs every Windows installation it can repair safely; otherwise it is
// a menu in Spanish over standard input and output, for a PC whose
// graphics do not start. Both run every program through `Commands` and keep
// a log of them.

#include <filesystem>
#include <iosfwd>
#include <string>

#include "rescue/volumes.h"

namespace sorbantilex::rescue_console {

struct Settings {
  rescue::Places places;
  /// What was done, each program and its output, appended.
  std::filesystem::path log = "/run/sorbantilex/registro.txt";
  /// The command line that repairs an installation (sorbantilex).
  std::string command_line = "sorbantilex";
};

/// sorbantilex beside this program, else the name for a PATH search.
std::string FindCommandLine();

/// Every volume found, each under a heading line: the Windows ones that can
/// be repaired are mounted read-write and repaired with `--all` (the
/// command line's report passed through to `out`); the others are
/// explained and never mounted read-write. Ends with the line
/// "sorbantilex.auto: estado N" and returns N: 0 when every Windows
/// installation found was repaired, 1 when one could not be or none was
/// found.
int RunAuto(rescue::Commands& commands, const Settings& settings, std::ostream& out);

/// The menu, until the user restarts or powers off the PC (or the input
/// ends). Returns the program's exit status.
int RunMenu(rescue::Commands& commands, const Settings& settings, std::istream& in,
            std::ostream& out);

}  // namespace sorbantilex::rescue_console
