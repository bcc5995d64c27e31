// sorbantilex-desktop: the desktop window over a mounted Windows
// installation. It takes the options of sorbantilex that say where the
// window opens (--windows, --user); sorbantilex hands over to it when it is
// started without a task in a graphical session, and the menu entry starts
// it with administrator rights. With --rescate it is the rescue USB's
// window instead, which finds the PC's Windows and runs this program on it.

#include <iostream>

#include "ui/desktop/offline_desktop.h"
#include "ui/desktop/rescue_window.h"
#include "ui/cli/options.h"
#include "ui/cli/terminal.h"
#include "ui/qt/desktop.h"

namespace sorbantilex::desktop {
namespace {

using namespace cli;

int Run(int argc, char** argv) {
  int early_exit = kExitDone;
  const auto options = Parse(argc, argv, &early_exit);
  if (!options) return early_exit;
  if (!DisplayAvailable()) {
    std::cerr << "sorbantilex-desktop: no hay ninguna sesión gráfica donde abrir la ventana "
                 "(DISPLAY o WAYLAND_DISPLAY).\nRepare desde la línea de órdenes: sorbantilex "
                 "--windows CARPETA --all, o --task CLAVE (vea sorbantilex --help).\n";
    return kExitFailed;
  }
  // Before any installation is looked for: the rescue window mounts them.
  if (options->rescue) return RunRescue(argc, argv);
  if (!OpensDesktop(*options, true)) {
    std::cerr << "sorbantilex-desktop: --task, --all, --dry-run y --start-page son opciones de "
                 "la línea de órdenes: úselas con sorbantilex.\n";
    return kExitUsage;
  }
  return RunDesktop(
      argc, argv, {.found = FindDesktopTargets(*options), .open = [&](const DesktopTarget& target) {
                     return OpenOfflineDesktop(target, options->users);
                   }});
}

}  // namespace
}  // namespace sorbantilex::desktop

int main(int argc, char** argv) {
  try {
    return sorbantilex::desktop::Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex-desktop: error inesperado: "
              << sorbantilex::cli::Terminal(error.what()) << "\n";
    return 1;
  }
}
