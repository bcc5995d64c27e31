// Rebuild of the System Restore service registration.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/failure.h"
#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

constexpr std::string_view kServicio = "srservice";
constexpr std::string_view kClaveServicio = "SYSTEM\\CurrentControlSet\\Services\\srservice";
constexpr std::string_view kSubclaveSeguridad = "Security";
constexpr std::string_view kLibreria = "\\System32\\srsvc.dll";
constexpr std::string_view kMonikerRegistro = "Winmgmts:root\\default:StdRegProv";

constexpr std::string_view kFaltaLibreria =
    "La librería srsvc.dll necesaria para \"Restaurar Sistema\" no existe.\r\n"
    "Reponga la librería para continuar.";

struct ValorServicio {
  std::string_view subclave;  // empty: the service key itself
  std::string_view nombre;
  std::uint32_t tipo;
  std::string_view dato;
  bool tras_systemroot;  // the data follows the system folder
};

// The service key's template, key by key in the order written. Each key is
// created before its values are written; the "Security" subkey follows last
// and receives the security descriptor through WMI.
constexpr std::array<ValorServicio, 13> kPlantilla = {{
    {"", "Type", kRegDword, "32", false},
    {"", "Start", kRegDword, "2", false},
    {"", "ErrorControl", kRegDword, "1", false},
    {"", "ImagePath", kRegExpandSz, "%SystemRoot%\\system32\\svchost.exe -k netsvcs", false},
    {"", "DisplayName", kRegSz, "Servicio de restauración de sistema", false},
    {"", "DependOnService", kRegMultiSz, "RpcSs", false},
    {"", "DependOnGroup", kRegMultiSz, "", false},
    {"", "ObjectName", kRegSz, "LocalSystem", false},
    {"", "Description", kRegSz,
     "Realiza funciones de restauración del sistema. Para detener el servicio, desactive "
     "Restaurar sistema en la ficha de Restaurar sistema en propiedades de Mi PC",
     false},
    {"Enum", "0", kRegSz, "Root\\LEGACY_SRSERVICE\\0000", false},
    {"Enum", "Count", kRegDword, "1", false},
    {"Enum", "NextInstance", kRegDword, "1", false},
    {"Parameters", "ServiceDll", kRegExpandSz, kLibreria, true},
}};

// Self-relative security descriptor of the service: owner and group
// LocalSystem; SACL auditing failed full access by Everyone; DACL allowing
// LocalSystem, Administrators, Authenticated Users and Power Users.
constexpr std::array<std::uint8_t, 168> kDescriptorSeguridad = {
    0x01, 0x00, 0x14, 0x80, 0x90, 0x00, 0x00, 0x00, 0x9C, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00,
    0x30, 0x00, 0x00, 0x00, 0x02, 0x00, 0x1C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x80, 0x14, 0x00,
    0xFF, 0x01, 0x0F, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x60, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0xFD, 0x01, 0x02, 0x00,
    0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x00,
    0xFF, 0x01, 0x0F, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00,
    0x20, 0x02, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x8D, 0x01, 0x02, 0x00, 0x01, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x05, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0xFD, 0x01, 0x02, 0x00,
    0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00, 0x23, 0x02, 0x00, 0x00,
    0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00,
};

std::string Subclave(std::string_view subclave) {
  std::string ruta(kClaveServicio);
  if (!subclave.empty()) ruta.append("\\").append(subclave);
  return ruta;
}

}  // namespace

void Funciones::RepararRestaurarSistema() {
  // The system folder as the environment gives it; the Windows directory
  // where the variable is missing, so that the service library is never
  // registered without its folder.
  const auto systemroot = [this] {
    const auto valor = platform_.system.Environment("systemroot");
    return valor && !valor->empty() ? *valor : platform_.system.WindowsDirectory();
  };

  ControlarServicio(0, kServicio);
  platform_.ui.YieldToMessages();

  if (!platform_.files.IsPlainFile(systemroot() + std::string(kLibreria))) {
    platform_.ui.ShowMessage(kFaltaLibreria);
  }

  {
    RegistroDeTarea tarea(*this);
    EliminarPolitica(registro(), Politica::kSystemRestore);
    registro().EliminarClave(kHkeyLocalMachine, kClaveServicio);
    registro().CrearNuevaClave(kHkeyLocalMachine, kClaveServicio);
    std::string_view subclave_actual;
    for (const auto& valor : kPlantilla) {
      const std::string clave = Subclave(valor.subclave);
      if (valor.subclave != subclave_actual) {
        registro().CrearNuevaClave(kHkeyLocalMachine, clave);
        subclave_actual = valor.subclave;
      }
      const Variante dato =
          valor.tras_systemroot ? systemroot() + std::string(valor.dato) : std::string(valor.dato);
      registro().EstablecerValor(kHkeyLocalMachine, clave, valor.nombre, dato, valor.tipo);
    }
    registro().CrearNuevaClave(kHkeyLocalMachine, Subclave(kSubclaveSeguridad));

    const std::vector<std::int32_t> bytes(kDescriptorSeguridad.begin(), kDescriptorSeguridad.end());
    const AutomationArg argumentos[] = {static_cast<std::int32_t>(kHkeyLocalMachine),
                                        Subclave(kSubclaveSeguridad),
                                        std::string(kSubclaveSeguridad), bytes};
    const std::unique_ptr<AutomationObject> proveedor = platform_.wmi.BindMoniker(kMonikerRegistro);
    if (!proveedor) throw Failure(kSinObjeto, "WMI no devolvió el proveedor del registro.");
    (void)proveedor->Invoke("SetBinaryValue", argumentos);
  }
  platform_.ui.YieldToMessages();

  for (const std::string_view servicio :
       {std::string_view("Eventlog"), std::string_view("RpcSs"), kServicio}) {
    ControlarServicio(1, servicio);
  }
  platform_.ui.YieldToMessages();
}

}  // namespace sorbantilex
