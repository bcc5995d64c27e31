// Builds without Qt: there is no window to open.

#include "ui/cli/desktop_start.h"

namespace sorbantilex::cli {

bool DesktopAvailable() { return false; }

int StartDesktop(int&, char**, const Options&) { return kExitFailed; }

}  // namespace sorbantilex::cli
