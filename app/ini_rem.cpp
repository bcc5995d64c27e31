#include "app/ini_rem.h"

#include <array>
#include <string>

#include "registry/registro.h"
#include "tasks/politicas.h"

namespace sorbantilex {
namespace {

constexpr Font kDireccionFont{"MS Sans Serif", 9.75, kWeightRegular};
constexpr Font kNotaFont{"MS Sans Serif", 8.25, kWeightBold};

constexpr std::array kControls{
    Control{.name = "Label1",
            .kind = ControlKind::kLabel,
            .caption = "Para reestablecer su página de Inicio de Internet Explorer bloqueada, "
                       "ingrese la dirección URL en el campo de texto de la página que desea "
                       "establecer y presione el botón Aceptar. Si no ingresa ninguna dirección "
                       "se establecerá la página de inicio en blanco (about:blank).",
            .rect = {120, 120, 4935, 975},
            .word_wrap = true},
    Control{.name = "Label3",
            .kind = ControlKind::kLabel,
            .caption = "Dirección:",
            .rect = {120, 1180, 975, 255},
            .font = kDireccionFont},
    Control{.name = "txtURL",
            .kind = ControlKind::kTextBox,
            .caption = kInitialStartPage,
            .rect = {1080, 1160, 5415, 315},
            .tab_index = 2},
    Control{.name = "Label2",
            .kind = ControlKind::kLabel,
            .caption = "NOTA",
            .rect = {120, 1575, 615, 255},
            .font = kNotaFont},
    Control{.name = "Label4",
            .kind = ControlKind::kLabel,
            .caption = "Algunos AntiSpywares pueden mostrar un aviso al ejecutar esta reparación. "
                       "Se recomienda deshabilitar temporalmente su AntiSpyware antes de utilizar "
                       "esta opción.",
            .rect = {120, 1800, 6495, 495},
            .word_wrap = true},
    Control{.name = "cmdOk",
            .kind = ControlKind::kButton,
            .caption = "Aplicar",
            .rect = {5280, 120, 1215, 375},
            .tab_index = 0},
    Control{.name = "cmdCancel",
            .kind = ControlKind::kButton,
            .caption = "Cancelar",
            .rect = {5280, 600, 1215, 375},
            .tab_index = 1},
};

constexpr WindowLayout kLayout{.id = WindowId::kIniRem,
                               .name = "IniRem",
                               .client_width = 6630,
                               .client_height = 2280,
                               .title = "Página de Inicio de Internet Explorer",
                               .icon_id = kIniRemIconId,
                               .controls = kControls};

constexpr std::string_view kControlPanelPolicy =
    "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr std::string_view kControlPanelPolicyForCopy =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr std::string_view kBrowserMain = "Software\\Microsoft\\Internet Explorer\\Main";
constexpr std::string_view kBlankPage = "about:blank";

}  // namespace

const WindowLayout& IniRem::Layout() { return kLayout; }

void IniRem::OnOkClick() {
  {
    const std::string explorer_policy = std::string(kClavePoliticas) + "Explorer";
    const std::string explorer_policy_copy = CopiaDeDirectiva(explorer_policy);
    const std::string control_panel_policy_copy = CopiaDeDirectiva(kControlPanelPolicyForCopy);
    Registro registro(registry_);
    registro.EliminarValor(kHkeyLocalMachine, explorer_policy, "NoSaveSettings");
    registro.EliminarValor(kHkeyCurrentUser, explorer_policy, "NoSaveSettings");
    registro.EliminarValor(kHkeyLocalMachine, explorer_policy_copy, "NoSaveSettings");
    registro.EliminarValor(kHkeyCurrentUser, explorer_policy_copy, "NoSaveSettings");
    registro.EstablecerValor(kHkeyLocalMachine, kControlPanelPolicy, "HomePage", "0", kRegDword);
    registro.EstablecerValor(kHkeyCurrentUser, kControlPanelPolicy, "HomePage", "0", kRegDword);
    registro.EliminarClave(kHkeyLocalMachine, control_panel_policy_copy);
    registro.EliminarClave(kHkeyCurrentUser, control_panel_policy_copy);
    std::string page = ui_.TextBoxText(WindowId::kIniRem, "txtURL");
    if (page.empty()) page = kBlankPage;
    registro.EstablecerValor(kHkeyCurrentUser, kBrowserMain, "Start Page", page, kRegSz);
  }
  ui_.HideWindow(WindowId::kIniRem);
}

void IniRem::OnCancelClick() { ui_.HideWindow(WindowId::kIniRem); }

void IniRem::OnClose() { ui_.HideWindow(WindowId::kIniRem); }

}  // namespace sorbantilex
