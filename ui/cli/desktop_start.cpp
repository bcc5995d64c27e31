#include "ui/cli/desktop_start.h"

#include "ui/cli/offline_desktop.h"
#include "ui/qt/desktop.h"

namespace sorbantilex::cli {

bool DesktopAvailable() { return DisplayAvailable(); }

int StartDesktop(int& argc, char** argv, const Options& options) {
  return RunDesktop(argc, argv, {.found = FindDesktopTargets(options), .open = OpenOfflineDesktop});
}

}  // namespace sorbantilex::cli
