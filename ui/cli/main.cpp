// sorbantilex: the command line front end. It opens a Windows installation
// mounted at a folder, ticks the boxes its options name, presses "Unlock!"
// and answers the home-page dialog, all through the same `Menu` and
// `IniRem` as the windows; messages are printed as they stand. When the
// program ends, however it ends, the changes are committed and reported.
// Started without a task in a graphical session, it opens the desktop
// window instead.

#include <array>
#include <csignal>
#include <functional>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/menu.h"
#include "registry/failure.h"
#include "platform/offline/hive_registry.h"
#include "platform/offline/installation.h"
#include "platform/offline/offline_platform.h"
#include "ui/cli/change_log.h"
#include "ui/cli/desktop_start.h"
#include "ui/cli/options.h"

namespace sorbantilex::cli {
namespace {

namespace fs = std::filesystem;

std::string Terminal(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

// The window system of the command line: the boxes' states live here, the
// dialog is answered by the options, messages go to standard output.
class CliWindowSystem final : public WindowSystem {
 public:
  CliWindowSystem(std::string start_page, bool lock_held, std::function<void(EndReason)> on_end)
      : start_page_(std::move(start_page)), lock_held_(lock_held), on_end_(std::move(on_end)) {
    for (const Control& control : Menu::Controls()) {
      if (control.kind != ControlKind::kCheckBox) continue;
      for (const auto array : {CheckArray::kPolicies, CheckArray::kFixes, CheckArray::kInternet}) {
        if (control.name == ArrayName(array)) {
          auto& boxes = boxes_[static_cast<int>(array)];
          if (static_cast<int>(boxes.size()) <= control.index) boxes.resize(control.index + 1);
          boxes[control.index] = {control.initial_state, control.enabled};
        }
      }
    }
  }

  void set_menu(Menu* menu) { menu_ = menu; }
  std::function<void(std::string_view)> on_dialog;

  void ShowMessage(std::string_view text, std::string_view title) override {
    std::cout << "[" << (title.empty() ? std::string_view("Sorbantilex") : title) << "] "
              << Terminal(text) << "\n";
    std::cout.flush();
  }
  void YieldToMessages() override {
    if (interrupted && menu_ != nullptr) {
      std::cout << "Interrumpido: se cierra la ventana principal.\n";
      menu_->OnUnload();
    }
    if (dialog_visible_ && !dialog_answered_ && menu_ != nullptr) {
      dialog_answered_ = true;
      if (on_dialog) on_dialog(start_page_);
      menu_->iniRem().OnOkClick();
    }
  }
  [[noreturn]] void EndProgram(EndReason reason) override {
    on_end_(reason);
    std::abort();  // on_end never returns
  }
  bool PreviousInstance() override { return !lock_held_; }
  void ShowWindow(WindowId window) override {
    if (window == WindowId::kIniRem) {
      dialog_visible_ = true;
      dialog_answered_ = false;
    }
  }
  void HideWindow(WindowId window) override {
    if (window == WindowId::kIniRem) dialog_visible_ = false;
  }
  bool Visible(WindowId window) override {
    return window == WindowId::kIniRem ? dialog_visible_ : true;
  }
  WindowHandle Handle(WindowId window) override { return window == WindowId::kIniRem ? 2 : 1; }
  void SetWindowPos(WindowHandle, WindowHandle, int, int, int, int, std::uint32_t) override {}
  void SetTitle(WindowId, std::string_view) override {}
  int CheckState(CheckArray array, int index) override { return Box(array, index).state; }
  void SetCheckState(CheckArray array, int index, int state) override {
    Box(array, index).state = state;
  }
  void SetCheckEnabled(CheckArray array, int index, bool enabled) override {
    Box(array, index).enabled = enabled;
  }
  int UpperBound(CheckArray array) override {
    return static_cast<int>(boxes_[static_cast<int>(array)].size()) - 1;
  }
  std::string TextBoxText(WindowId, std::string_view) override { return start_page_; }

 private:
  struct CheckBox {
    int state = 0;
    bool enabled = true;
  };
  CheckBox& Box(CheckArray array, int index) {
    auto& boxes = boxes_[static_cast<int>(array)];
    if (index < 0 || index >= static_cast<int>(boxes.size())) {
      throw Failure(9, "Subíndice fuera del intervalo");
    }
    return boxes[index];
  }

  std::array<std::vector<CheckBox>, 3> boxes_;
  std::string start_page_;
  bool lock_held_;
  std::function<void(EndReason)> on_end_;
  Menu* menu_ = nullptr;
  bool dialog_visible_ = false;
  bool dialog_answered_ = false;
};

// The repairs, each announced to the change log before it runs.
class ReportingFunciones final : public Funciones {
 public:
  ReportingFunciones(TaskPlatform platform, ChangeLog& log) : Funciones(platform), log_(log) {}

#define SORBANTILEX_REPORTED(task, array, index)           \
  void task() override {                                   \
    log_.BeginSection(std::string(Caption(array, index))); \
    Funciones::task();                                     \
  }
  SORBANTILEX_REPORTED(EliminarRestriccionesSistema, CheckArray::kPolicies, 0)
  SORBANTILEX_REPORTED(EliminarRestriccionesExplorador, CheckArray::kPolicies, 1)
  SORBANTILEX_REPORTED(EliminarRestriccionesActiveDesktop, CheckArray::kPolicies, 2)
  SORBANTILEX_REPORTED(EliminarRestriccionesAgregarQuitar, CheckArray::kPolicies, 3)
  SORBANTILEX_REPORTED(RepararArchivosOcultos, CheckArray::kFixes, 0)
  SORBANTILEX_REPORTED(RepararModoSeguro, CheckArray::kFixes, 1)
  SORBANTILEX_REPORTED(RestaurarUserinit, CheckArray::kFixes, 2)
  SORBANTILEX_REPORTED(RestaurarShell, CheckArray::kFixes, 3)
  SORBANTILEX_REPORTED(ReactivarSFC, CheckArray::kFixes, 4)
  SORBANTILEX_REPORTED(RepararRestaurarSistema, CheckArray::kFixes, 5)
  SORBANTILEX_REPORTED(EliminarSitiosConfianza, CheckArray::kInternet, 1)
  SORBANTILEX_REPORTED(EliminarSitiosRestringidos, CheckArray::kInternet, 2)
  SORBANTILEX_REPORTED(EliminarVentanasPermitidas, CheckArray::kInternet, 3)
  SORBANTILEX_REPORTED(RestaurarHosts, CheckArray::kInternet, 4)
#undef SORBANTILEX_REPORTED

 private:
  ChangeLog& log_;
};

int Run(int argc, char** argv) {
  int early_exit = kExitDone;
  const auto options = Parse(argc, argv, &early_exit);
  if (!options) return early_exit;
  if (OpensDesktop(*options, DesktopAvailable())) return StartDesktop(argc, argv, *options);

  fs::path root;
  if (options->windows) {
    root = *options->windows;
  } else {
    const auto found = offline::MountedInstallations();
    if (found.size() != 1) {
      std::cerr
          << (found.empty()
                  ? "No se ha encontrado ninguna instalación de Windows entre los sistemas de "
                    "archivos montados. Monte la partición de Windows e indíquela con --windows."
                  : "Hay varias instalaciones de Windows montadas; elija una con --windows:");
      for (const auto& path : found) std::cerr << "\n  " << path.string();
      std::cerr << "\n";
      return kExitFailed;
    }
    root = found.front();
  }

  std::unique_ptr<offline::HiveRegistry> store;
  std::unique_ptr<offline::InstanceLock> lock;
  offline::Installation installation;
  try {
    installation = offline::Installation::Find(root);
    lock = std::make_unique<offline::InstanceLock>(installation);
    store = std::make_unique<offline::HiveRegistry>(installation.Hives(options->user),
                                                    !options->dry_run);
  } catch (const offline::OfflineRefusal& refusal) {
    std::cerr << refusal.what() << "\n";
    return kExitFailed;
  }

  ChangeLog log(*store);
  offline::OfflineSystemInfo system(*store);
  const std::string windows_directory = system.WindowsDirectory();
  offline::OfflineFiles files(installation.root(), windows_directory.substr(0, 2),
                              options->dry_run);
  offline::OfflineWmi wmi(log);
  offline::OfflineToken token;

  auto finish = [&](EndReason reason) {
    int code = reason == EndReason::kFinished ? kExitDone : kExitFailed;
    offline::CommitReport report;
    if (!options->dry_run) report = store->Commit();
    std::cout << (options->dry_run ? "\nCambios (simulación: no se ha escrito nada):\n"
                                   : "\nCambios:\n");
    std::size_t file_index = 0;
    for (const auto& section : log.sections()) {
      std::cout << "  " << (section.caption.empty() ? "(inicio)" : section.caption) << "\n";
      auto lines = DescribeChanges(section.changes);
      if (section.caption == Caption(CheckArray::kInternet, 4)) {
        for (; file_index < files.changes().size(); ++file_index) {
          const auto& change = files.changes()[file_index];
          const std::string_view content(reinterpret_cast<const char*>(change.content.data()),
                                         change.content.size());
          lines.push_back("archivo escrito " + change.windows_path + " (" +
                          std::to_string(change.content.size()) + " bytes): \"" +
                          Printable(content) + "\"");
        }
      }
      if (lines.empty()) lines.push_back("sin cambios");
      for (const auto& line : lines) std::cout << "    " << Terminal(line) << "\n";
    }
    for (const auto& notice : store->notices()) std::cout << "Aviso: " << notice << "\n";
    if (!report.written.empty() || !files.changes().empty()) {
      std::cout << "Copias de seguridad:\n";
      for (const auto& written : report.written)
        std::cout << "  " << written.backup.string() << "\n";
      for (const auto& change : files.changes()) {
        if (!change.backup.empty()) std::cout << "  " << change.backup.string() << "\n";
      }
    }
    for (const auto& error : report.errors) {
      std::cerr << error << "\n";
      code = kExitFailed;
    }
    std::cout.flush();
    std::exit(code);
  };

  CliWindowSystem ui(options->start_page.value_or(std::string(kInitialStartPage)), lock->held(),
                     finish);
  ui.on_dialog = [&](std::string_view page) {
    log.BeginSection(std::string(Caption(CheckArray::kInternet, 0)));
    std::cout << "[" << IniRem::Layout().title << "] Dirección: " << page << " (Aplicar)\n";
  };
  ReportingFunciones funciones(TaskPlatform{log, system, files, wmi, ui}, log);
  Menu menu(MenuPlatform{ui, funciones, token, system, log});
  ui.set_menu(&menu);
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);

  menu.OnLoad();
  if (options->all) {
    for (const auto array : {CheckArray::kPolicies, CheckArray::kFixes, CheckArray::kInternet}) {
      menu.OnFrameDoubleClick(array);
    }
  }
  for (const TaskKey* task : options->tasks) ui.SetCheckState(task->array, task->index, 1);
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
    std::cerr << "sorbantilex: error inesperado, no se ha guardado ningún cambio: " << error.what()
              << "\n";
    return 1;
  }
}
