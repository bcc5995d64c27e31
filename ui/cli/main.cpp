// sorbantilex: the command line front end. It opens a Windows installation
// mounted at a folder, ticks the boxes its options name, presses "Unlock!"
// and answers the home-page dialog, all through the same `Menu` and
// `IniRem` as the windows; messages are printed as they stand. When the
// program ends, however it ends, the changes are committed and reported.
// Started without a task in a graphical session, it opens the desktop
// window instead.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/menu.h"
#include "platform/offline/hive_registry.h"
#include "platform/offline/huge_pages.h"
#include "platform/offline/installation.h"
#include "platform/offline/offline_errors.h"
#include "platform/offline/offline_platform.h"
#include "registry/failure.h"
#include "registry/undo_recorder.h"
#include "ui/cli/change_log.h"
#include "ui/cli/change_report.h"
#include "ui/cli/cli_window_system.h"
#include "ui/cli/desktop_start.h"
#include "ui/cli/options.h"
#include "ui/cli/reporting_funciones.h"
#include "ui/cli/terminal.h"
#include "ui/cli/undo_report.h"
#include "ui/text/offline_messages.h"

namespace sorbantilex::cli {
namespace {

namespace fs = std::filesystem;

// The folder --windows names, else the one installation mounted. Without
// exactly one, says why on standard error and returns nullopt.
std::optional<fs::path> ChooseRoot(const Options& options) {
  if (options.windows) return *options.windows;
  const auto found = offline::MountedInstallations();
  if (found.size() == 1) return found.front();
  std::cerr << (found.empty()
                    ? "No se ha encontrado ninguna instalación de Windows entre los sistemas de "
                      "archivos montados. Monte la partición de Windows e indíquela con --windows."
                    : "Hay varias instalaciones de Windows montadas; elija una con --windows:");
  for (const auto& path : found) std::cerr << "\n  " << Terminal(path.string(), Breaks::kEscaped);
  std::cerr << "\n";
  return std::nullopt;
}

// The installation opened for repair: its hives, held against other
// instances of the program.
struct OpenedInstallation {
  offline::Installation installation;
  std::unique_ptr<offline::InstanceLock> lock;
  std::unique_ptr<offline::HiveRegistry> store;
};

// Opens the installation at `root`; says why on standard error and returns
// nullopt when it cannot be repaired.
std::optional<OpenedInstallation> Open(const fs::path& root, const Options& options) {
  OpenedInstallation opened;
  try {
    text::AsFailure([&] {
      opened.installation = offline::Installation::Find(root);
      opened.lock = std::make_unique<offline::InstanceLock>(opened.installation);
      // SOFTWARE, opened once, serves the profiles' lookup and the store.
      auto software = offline::Hive::Open(opened.installation.software(), "SOFTWARE",
                                          !options.dry_run, opened.installation.root());
      const auto paths = opened.installation.Hives(options.user, software.get());
      opened.store =
          std::make_unique<offline::HiveRegistry>(paths, !options.dry_run, std::move(software));
    });
  } catch (const Failure& refusal) {
    std::cerr << Terminal(refusal.description()) << "\n";
    return std::nullopt;
  }
  return opened;
}

int Run(int argc, char** argv) {
  int early_exit = kExitDone;
  const auto options = Parse(argc, argv, &early_exit);
  if (!options) return early_exit;
  if (OpensDesktop(*options, DesktopAvailable())) {
    offline::AskForHugePageBuffers();
    return StartDesktop(argc, argv, *options);
  }
  // Hives opened for writing are read into memory (a dry run maps them).
  if (!options->dry_run) offline::RestartWithHugePageBuffers(argv);

  const auto root = ChooseRoot(*options);
  if (!root) return kExitFailed;
  auto opened = Open(*root, *options);
  if (!opened) return kExitFailed;
  offline::HiveRegistry& store = *opened->store;

  UndoRecorder undo(store);
  ChangeLog log(undo);
  offline::OfflineSystemInfo system(store);
  const std::string windows_directory = system.WindowsDirectory();
  offline::OfflineFiles files(opened->installation.root(), windows_directory.substr(0, 2),
                              options->dry_run);
  offline::OfflineWmi wmi(log);
  offline::OfflineToken token;

  // A run that met a damaged hive ends at once, on standard error, with
  // nothing written: what the repairs could not read may only look absent.
  auto refuse_if_damaged = [&] {
    const auto damage = store.Damage();
    if (!damage) return;
    std::cout.flush();
    std::cerr << Terminal(text::Describe(*damage)) << "\n";
    std::exit(kExitFailed);
  };
  // Every end of the program: write what was changed, report it, exit.
  auto finish = [&](EndReason reason) {
    refuse_if_damaged();
    offline::CommitReport commit;
    if (!options->dry_run) commit = store.Commit({}, files.Pending());
    const bool written = PrintChangeReport(
        {log, files.changes(), store.notices(), commit, options->dry_run}, std::cout, std::cerr);
    ReportUndoFile(std::cout, undo, commit, opened->installation.software().parent_path());
    std::exit(reason == EndReason::kFinished && written ? kExitDone : kExitFailed);
  };

  CliWindowSystem ui(options->start_page.value_or(std::string(kInitialStartPage)),
                     opened->lock->held(), finish);
  ui.on_dialog = [&](std::string_view page) { ReportStartPageDialog(log, page); };
  ui.checkpoint = refuse_if_damaged;
  ReportingFunciones funciones(TaskPlatform{log, system, files, wmi, ui}, log, refuse_if_damaged);
  Menu menu(MenuPlatform{ui, funciones, token, system, log});
  ui.set_menu(&menu);
  CatchInterrupts();

  refuse_if_damaged();
  menu.OnLoad();
  if (options->all) {
    for (const auto array : {CheckArray::kPolicies, CheckArray::kFixes, CheckArray::kInternet}) {
      menu.OnFrameDoubleClick(array);
    }
  }
  for (const Step* box : options->tasks) ui.SetCheckState(box->array, box->index, 1);
  menu.OnUnlockClick();
  // The runner returns only when nothing was ticked (after its message).
  return kExitUsage;
}

}  // namespace
}  // namespace sorbantilex::cli

int main(int argc, char** argv) {
  try {
    return sorbantilex::cli::Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex: error inesperado, no se ha guardado ningún cambio: "
              << sorbantilex::cli::Terminal(error.what()) << "\n";
    return 1;
  }
}
