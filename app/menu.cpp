#include "app/menu.h"

#include <array>
#include <exception>
#include <span>
#include <string>

#include "app/task_catalog.h"
#include "registry/failure.h"
#include "registry/priviliges.h"

namespace sorbantilex {
namespace {

// The program's own version.
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 9;
constexpr int kVersionRevision = 2;

// --- Layout ----------------------------------------------------------------

constexpr Font kTitleFont{"MS Sans Serif", 18, kWeightBold};
constexpr Font kUnlockFont{"MS Sans Serif", 12, kWeightBold};
constexpr std::string_view kFrameTooltip =
    "Haga doble clic para habilitar todas las casillas de la sección";

constexpr Control Frame(std::string_view name, std::string_view caption, TwipsRect rect) {
  return Control{.name = name,
                 .kind = ControlKind::kFrame,
                 .caption = caption,
                 .rect = rect,
                 .tooltip = kFrameTooltip};
}

constexpr std::string_view FrameOf(CheckArray array) {
  switch (array) {
    case CheckArray::kPolicies:
      return "frmPolicies";
    case CheckArray::kFixes:
      return "frmFixes";
    case CheckArray::kInternet:
      return "frmInternet";
    case CheckArray::kModern:
      return "frmModern";
  }
  return {};
}

// A box of the task catalogue, with the caption the catalogue gives it.
constexpr Control Box(CheckArray array, int index, TwipsRect rect, int tab_index,
                      bool enabled = true) {
  return Control{.name = ArrayName(array),
                 .kind = ControlKind::kCheckBox,
                 .caption = BoxCaption(array, index),
                 .rect = rect,
                 .tab_index = tab_index,
                 .index = index,
                 .parent = FrameOf(array),
                 .initial_state = 0,
                 .enabled = enabled};
}

constexpr std::array kControls{
    Control{.name = "Label3",
            .kind = ControlKind::kLabel,
            .caption = "Sorbantilex",
            .rect = {120, 120, 2415, 495},
            .font = kTitleFont},
    Control{.name = "Label1",
            .kind = ControlKind::kLabel,
            .caption = "Este programa está diseñado para eliminar las restricciones del sistema y "
                       "errores provocados por malwares. No me hago cargo de otras posibles "
                       "aplicaciones.",
            .rect = {120, 720, 4575, 615},
            .word_wrap = true},
    Control{.name = "Label2",
            .kind = ControlKind::kLabel,
            .caption = "¡Úselo bajo su responsabilidad!",
            .rect = {1200, 1440, 2295, 255}},
    Frame("frmPolicies", "Restricciones", {120, 1800, 4695, 1335}),
    Frame("frmFixes", "Reparadores", {120, 3240, 4695, 1935}),
    Frame("frmInternet", "Internet", {120, 5280, 4695, 1575}),
    Control{.name = "cmdUnlock",
            .kind = ControlKind::kButton,
            .caption = "Unlock!",
            .rect = {960, 6960, 2775, 495},
            .font = kUnlockFont,
            .tooltip = "Seleccione las acciones a realizar y luego presione aquí",
            .tab_index = 0},
    Box(CheckArray::kPolicies, 0, {120, 300, 2630, 200}, 1),
    Box(CheckArray::kPolicies, 1, {120, 540, 2820, 200}, 2),
    Box(CheckArray::kPolicies, 2, {120, 780, 3135, 200}, 3),
    Box(CheckArray::kPolicies, 3, {120, 1020, 3840, 200}, 4),
    Box(CheckArray::kFixes, 0, {120, 300, 3405, 200}, 5),
    Box(CheckArray::kFixes, 1, {120, 540, 2805, 200}, 6),
    Box(CheckArray::kFixes, 2, {120, 780, 3525, 200}, 7),
    Box(CheckArray::kFixes, 3, {120, 1020, 3375, 200}, 8),
    Box(CheckArray::kFixes, 4, {120, 1280, 4120, 200}, 9),
    Box(CheckArray::kFixes, 5, {120, 1550, 4125, 200}, 10, /*enabled=*/false),
    Box(CheckArray::kInternet, 0, {120, 300, 3855, 200}, 11),
    Box(CheckArray::kInternet, 1, {120, 540, 3735, 200}, 12),
    Box(CheckArray::kInternet, 2, {120, 780, 3615, 195}, 13),
    Box(CheckArray::kInternet, 3, {120, 1020, 4450, 200}, 14),
    Box(CheckArray::kInternet, 4, {120, 1260, 2175, 200}, 15),
};

// --- The offline front ends' window ----------------------------------------
//
// The command line and the desktop window draw the table above with a
// fourth frame under the other three, for the repairs of Windows Vista to
// 11, and the button and the window's bottom moved down by the frame's
// height and its gap. The Windows program draws the table above as it is,
// and its runner passes over the fourth frame's steps (`MenuPlatform::offline`).

constexpr int kModernShift = 1440;

constexpr std::array kModernControls{
    Frame("frmModern", "Windows Vista a 11", {120, 6960, 4695, 1335}),
    Box(CheckArray::kModern, 0, {120, 300, 4455, 200}, 16),
    Box(CheckArray::kModern, 1, {120, 540, 4455, 200}, 17),
    Box(CheckArray::kModern, 2, {120, 780, 4455, 200}, 18),
    Box(CheckArray::kModern, 3, {120, 1020, 4455, 200}, 19),
};

constexpr auto kOfflineControls = [] {
  std::array<Control, kControls.size() + kModernControls.size()> all{};
  std::size_t next = 0;
  for (Control control : kControls) {
    if (control.name == "cmdUnlock") control.rect.top += kModernShift;
    all[next++] = control;
  }
  for (const Control& control : kModernControls) all[next++] = control;
  return all;
}();

// Every box of the catalogue that the window has is drawn, and every box
// drawn is in the catalogue.
constexpr bool LayoutMatchesCatalogue(std::span<const Control> controls, bool offline) {
  std::size_t boxes = 0;
  for (const Control& control : controls) {
    if (control.kind != ControlKind::kCheckBox) continue;
    if (control.caption.empty()) return false;
    ++boxes;
  }
  std::size_t steps = 0;
  for (const Step& step : kSteps)
    steps += step.HasBox() && (offline || !step.OfflineOnly()) ? 1 : 0;
  return boxes == steps;
}
static_assert(LayoutMatchesCatalogue(kControls, false));
static_assert(LayoutMatchesCatalogue(kOfflineControls, true));

constexpr WindowLayout kLayout{.id = WindowId::kMenu,
                               .name = "Menu",
                               .client_width = 4935,
                               .client_height = 7575,
                               .title = {},
                               .icon_id = kMenuIconId,
                               .controls = kControls};

constexpr WindowLayout kOfflineLayout{.id = WindowId::kMenu,
                                      .name = "Menu",
                                      .client_width = 4935,
                                      .client_height = 7575 + kModernShift,
                                      .title = {},
                                      .icon_id = kMenuIconId,
                                      .controls = kOfflineControls};

// --- Texts -----------------------------------------------------------------

constexpr std::string_view kAppName = "Sorbantilex";
constexpr std::string_view kAlreadyRunning = "Sorbantilex ya se encuentra ejecutando.";
constexpr std::string_view kRequiredSystem = "Windows_NT";
constexpr std::string_view kNothingTicked = "Seleccione como mínimo una tarea a realizar.";
constexpr std::string_view kFinishedTitle = "Finalizado";
constexpr std::string_view kFinished =
    "Sorbantilex ha finalizado las tareas seleccionadas. Reinicie el equipo para que los "
    "cambios surtan efectos. Recuerde que para que el programa funcione satisfactoriamente, el "
    "sistema debe estar libre de malwares.";
constexpr std::string_view kErrorTitle = "Error";
constexpr std::string_view kErrorLead = "Sorbantilex recibió el error ";
constexpr std::string_view kErrorClosing = "Asegúrese que el sistema está libre de malwares.";
constexpr std::string_view kDebugPrivilege = "SeDebugPrivilege";

std::string IncompatibleSystemMessage() {
  return "Sistema operativo incompatible. Sorbantilex " + std::to_string(kVersionMajor) + "." +
         std::to_string(kVersionMinor) + " solo funciona en Windows_NT";
}

std::string Title() {
  return std::string(kAppName) + " " + std::to_string(kVersionMajor) + "." +
         std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision);
}

constexpr std::array kArrays{CheckArray::kPolicies, CheckArray::kFixes, CheckArray::kInternet,
                             CheckArray::kModern};
// The Windows program's arrays: the first three.
constexpr std::span<const CheckArray> kWindowsArrays = std::span(kArrays).first<3>();

/// Clears the running flag when a run returns or unwinds.
class RunGuard {
 public:
  explicit RunGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunGuard() { flag_ = false; }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

Menu::Menu(MenuPlatform platform) : platform_(platform), iniRem_(platform.ui, platform.registry) {}

const WindowLayout& Menu::Layout() { return kLayout; }

const WindowLayout& Menu::OfflineLayout() { return kOfflineLayout; }

std::span<const CheckArray> Menu::Arrays(bool offline) {
  return offline ? std::span<const CheckArray>(kArrays) : kWindowsArrays;
}

std::optional<CheckArray> Menu::ArrayOfFrame(std::string_view frame) {
  for (const CheckArray array : kArrays) {
    if (FrameOf(array) == frame) return array;
  }
  return std::nullopt;
}

void Menu::OnLoad() {
  WindowSystem& ui = platform_.ui;
  if (ui.PreviousInstance()) {
    ui.ShowMessage(kAlreadyRunning);
    End(EndReason::kRefused);
  }
  if (platform_.system.Environment("OS").value_or(std::string()) != kRequiredSystem) {
    ui.ShowMessage(IncompatibleSystemMessage());
    End(EndReason::kRefused);
  }
  HabilitarPrivilegio(platform_.token, ui, kDebugPrivilege);

  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  if (!platform_.system.Version(&major, &minor)) {
    major = 0;
    minor = 0;
  }
  // The two numbers' digits joined and read as one number: 51 only for 5.1.
  std::string joined = std::to_string(major) + std::to_string(minor);
  joined.erase(0, joined.find_first_not_of('0'));
  if (joined == "51") ui.SetCheckEnabled(CheckArray::kFixes, 5, true);

  ui.SetTitle(WindowId::kMenu, Title());
}

void Menu::OnActivate() {
  if (platform_.ui.Visible(WindowId::kIniRem)) platform_.ui.ShowWindow(WindowId::kIniRem);
}

void Menu::RepeatStep(const Step& step) {
  if (step.kind == StepKind::kStartPageDialog) {
    iniRem_.OnOkClick();
  } else if (step.kind == StepKind::kTask) {
    (platform_.funciones.*step.task)();
  }
}

void Menu::OnFrameDoubleClick(CheckArray array) {
  WindowSystem& ui = platform_.ui;
  const int upper = ui.UpperBound(array);
  for (int index = 0; index <= upper; ++index) ui.SetCheckState(array, index, 1);
}

void Menu::OnUnload() { End(EndReason::kClosed); }

void Menu::End(EndReason reason) {
  platform_.ui.EndProgram(reason);
  std::terminate();  // a window system whose EndProgram returns is broken
}

void Menu::OnUnlockClick() {
  // A click that arrives while a run yields would run the tasks twice.
  if (running_) return;
  RunGuard guard(running_);
  WindowSystem& ui = platform_.ui;
  try {
    RunTasks();
  } catch (const Failure& failure) {
    std::string text(kErrorLead);
    text += std::to_string(failure.number());
    text += "\r\n";
    text += failure.description();
    text += "\r\n";
    text += kErrorClosing;
    ui.ShowMessage(text, kErrorTitle);
    End(EndReason::kFailed);
  }
}

void Menu::RunTasks() {
  WindowSystem& ui = platform_.ui;
  int counter = 0;
  for (CheckArray array : Arrays(platform_.offline)) {
    const int upper = ui.UpperBound(array);
    for (int index = 0; index <= upper; ++index) {
      if (ui.CheckState(array, index) == 1) ++counter;
    }
  }
  if (counter == 0) {
    ui.ShowMessage(kNothingTicked, kAppName);
    return;
  }

  for (const Step& step : kSteps) {
    if (step.OfflineOnly() && !platform_.offline) continue;
    if (!step.HasBox()) {
      ui.YieldToMessages();
      continue;
    }
    if (ui.CheckState(step.array, step.index) != 1) continue;
    if (hooks_.started) hooks_.started(step);
    if (step.kind == StepKind::kStartPageDialog) {
      ShowStartPageDialog();
    } else {
      (platform_.funciones.*step.task)();
    }
    if (hooks_.finished) hooks_.finished(step);
  }

  ui.ShowMessage(kFinished, kFinishedTitle);
  ui.YieldToMessages();
  End(EndReason::kFinished);
}

void Menu::ShowStartPageDialog() {
  WindowSystem& ui = platform_.ui;
  ui.ShowWindow(WindowId::kIniRem);
  ui.SetWindowPos(ui.Handle(WindowId::kIniRem), kHwndTopmost, 0, 0, 0, 0, kSwpNoMove | kSwpNoSize);
  while (ui.Visible(WindowId::kIniRem)) ui.YieldToMessages();
}

}  // namespace sorbantilex
