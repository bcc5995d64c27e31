// sorbantilex: the command line front end. It opens a Windows installation
// mounted at a folder, ticks the boxes its options name, presses "Unlock!"
// and answers the home-page dialog, all through the same `Menu` and
// `IniRem` as the windows; messages are printed as they stand. When the
// program ends, however it ends, the changes are committed and reported.
// Started without a task in a graphical session, it opens the desktop
// window instead.

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/menu.h"
#include "platform/offline/huge_pages.h"
#include "platform/offline/session/session.h"
#include "registry/failure.h"
#include "ui/cli/change_report.h"
#include "ui/cli/cli_window_system.h"
#include "ui/cli/desktop_start.h"
#include "ui/cli/every_profile.h"
#include "ui/cli/options.h"
#include "ui/cli/report.h"
#include "ui/cli/terminal.h"
#include "ui/text/offline_messages.h"

namespace sorbantilex::cli {
namespace {

namespace fs = std::filesystem;

// Raised at a step or a message once a read met a damaged hive: the run
// ends at once with nothing written, since what the repairs could not read
// may only look absent.
struct DamagedRun {
  std::string why;
};

constexpr std::string_view kNoneMounted =
    "No se ha encontrado ninguna instalación de Windows entre los sistemas de archivos montados. "
    "Monte la partición de Windows e indíquela con --windows.";

// The folder --windows names, else the one installation mounted. Without
// exactly one, says why on standard error and returns nullopt.
std::optional<fs::path> ChooseRoot(const Options& options) {
  if (options.windows) return *options.windows;
  const auto found = offline::FindInstallations();
  if (found.size() == 1) return found.front();
  std::cerr << (found.empty() ? kNoneMounted
                              : "Hay varias instalaciones de Windows montadas; elija una con "
                                "--windows:");
  for (const auto& path : found) std::cerr << "\n  " << Terminal(path.string(), Breaks::kEscaped);
  std::cerr << "\n";
  return std::nullopt;
}

// Ticks the boxes the options name and presses "Unlock!". Returns how the
// program ended.
EndReason RunMenu(const Options& options, offline::Session& session) {
  CliWindowSystem ui(options.start_page.value_or(std::string(kInitialStartPage)),
                     !session.another_instance());
  const auto check = [&] {
    if (const auto damage = session.Damage()) throw DamagedRun{text::Describe(*damage)};
  };
  ui.checkpoint = check;
  ui.on_dialog = [&](std::string_view page) {
    std::cout << "[" << IniRem::Layout().title
              << "] Dirección: " << Terminal(page, Breaks::kEscaped) << " (Aplicar)\n";
  };
  Funciones funciones(
      TaskPlatform{session.registry(), session.system(), session.files(), session.wmi(), ui});
  Menu menu(MenuPlatform{ui, funciones, session.token(), session.system(), session.registry(),
                         /*offline=*/true});
  menu.set_step_hooks({.started =
                           [&](const Step& step) {
                             check();
                             session.BeginStep(step.caption);
                           },
                       .finished =
                           [&](const Step& step) {
                             RepeatForOtherProfiles(session, step, [&] {
                               check();
                               menu.RepeatStep(step);
                             });
                           }});
  ui.set_menu(&menu);
  CatchInterrupts();

  try {
    check();
    menu.OnLoad();
    if (options.all) {
      for (const auto array : Menu::Arrays(/*offline=*/true)) menu.OnFrameDoubleClick(array);
    }
    for (const Step* box : options.tasks) ui.SetCheckState(box->array, box->index, 1);
    menu.OnUnlockClick();
  } catch (const ProgramEnd& end) {
    return end.reason;
  }
  // The runner returns only when nothing was ticked (after its message).
  throw ProgramEnd{EndReason::kRefused};
}

// --informe: every installation (the one --windows names, else those
// mounted) surveyed and reported; nothing is written.
int Report(const Options& options) {
  const std::vector<fs::path> roots =
      options.windows ? std::vector<fs::path>{*options.windows} : offline::FindInstallations();
  if (roots.empty()) {
    std::cerr << kNoneMounted << "\n";
    return kExitFailed;
  }
  std::vector<InstallationReport> reports;
  for (const fs::path& root : roots) reports.push_back(Survey(root, options.users));
  if (options.json) {
    PrintReportJson(reports, std::cout);
  } else {
    PrintReport(reports, std::cout);
  }
  bool failed = false;
  for (const InstallationReport& report : reports) {
    if (report.error) std::cerr << Terminal(*report.error) << "\n";
    failed = failed || report.failed();
  }
  return failed ? kExitFailed : kExitDone;
}

int Run(int argc, char** argv) {
  int early_exit = kExitDone;
  const auto options = Parse(argc, argv, &early_exit);
  if (!options) return early_exit;
  if (OpensDesktop(*options, DesktopAvailable())) {
    offline::AskForHugePageBuffers();
    return StartDesktop(argc, argv, *options);
  }
  if (options->rescue) {
    std::cerr << "sorbantilex: --rescate abre la ventana de rescate, que necesita una sesión "
                 "gráfica (DISPLAY o WAYLAND_DISPLAY) y la ventana de Sorbantilex instalada.\n";
    return kExitFailed;
  }
  if (options->report) return Report(*options);
  // Hives opened for writing are read into memory (a dry run maps them).
  if (!options->dry_run) offline::RestartWithHugePageBuffers(argv);

  const auto root = ChooseRoot(*options);
  if (!root) return kExitFailed;
  std::unique_ptr<offline::Session> session;
  try {
    text::AsFailure([&] {
      session = offline::Session::Open({*root, options->users, options->dry_run});
    });
  } catch (const Failure& refusal) {
    std::cerr << Terminal(refusal.description()) << "\n";
    return kExitFailed;
  }

  EndReason reason = EndReason::kFinished;
  try {
    reason = RunMenu(*options, *session);
  } catch (const ProgramEnd&) {  // nothing was ticked
    return kExitUsage;
  } catch (const DamagedRun& damaged) {
    std::cout.flush();
    std::cerr << Terminal(damaged.why) << "\n";
    return kExitFailed;
  }
  if (const auto damage = session->Damage()) {
    std::cout.flush();
    std::cerr << Terminal(text::Describe(*damage)) << "\n";
    return kExitFailed;
  }
  const offline::SessionResult result = session->Finish();
  const bool written = PrintChangeReport(*session, result, std::cout, std::cerr);
  return reason == EndReason::kFinished && written ? kExitDone : kExitFailed;
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
