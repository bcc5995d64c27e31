// Rebuild or completion of the Safe Mode key.

#include "tasks/modo_seguro.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "registry/key_names.h"
#include "registry/reg_func.h"
#include "tasks/tarea.h"

namespace sorbantilex {

const std::array<EntradaModoSeguro, 42> kModoSeguroMinimo = {{
    {"AppMgmt", kTextoServicio},
    {"Base", kTextoGrupo},
    {"Boot Bus Extender", kTextoGrupo},
    {"Boot file system", kTextoGrupo},
    {"CryptSvc", kTextoServicio},
    {"DcomLaunch", kTextoServicio},
    {"dmadmin", kTextoServicio},
    {"dmboot.sys", kTextoControlador},
    {"dmio.sys", kTextoControlador},
    {"dmload.sys", kTextoControlador},
    {"dmserver", kTextoServicio},
    {"EventLog", kTextoServicio},
    {"File system", kTextoGrupo},
    {"Filter", kTextoGrupo},
    {"HelpSvc", kTextoServicio},
    {"Netlogon", kTextoServicio},
    {"PCI Configuration", kTextoGrupo},
    {"PlugPlay", kTextoServicio},
    {"PNP Filter", kTextoGrupo},
    {"Primary disk", kTextoGrupo},
    {"RpcSs", kTextoServicio},
    {"SCSI Class", kTextoGrupo},
    {"sermouse.sys", kTextoControlador},
    {"sr.sys", "FSFilter System Recovery"},
    {"SRService", kTextoServicio},
    {"System Bus Extender", kTextoGrupo},
    {"vga.sys", kTextoControlador},
    {"vgasave.sys", kTextoControlador},
    {"WinMgmt", kTextoServicio},
    {"{36FC9E60-C465-11CF-8056-444553540000}", "Universal Serial Bus controllers"},
    {"{4D36E965-E325-11CE-BFC1-08002BE10318}", "CD-ROM Drive"},
    {"{4D36E967-E325-11CE-BFC1-08002BE10318}", "DiskDrive"},
    {"{4D36E969-E325-11CE-BFC1-08002BE10318}", "Standard floppy disk controller"},
    {"{4D36E96A-E325-11CE-BFC1-08002BE10318}", "Hdc"},
    {"{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboard"},
    {"{4D36E96F-E325-11CE-BFC1-08002BE10318}", "Mouse"},
    {"{4D36E977-E325-11CE-BFC1-08002BE10318}", "PCMCIA Adapters"},
    {"{4D36E97B-E325-11CE-BFC1-08002BE10318}", "SCSIAdapter"},
    {"{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System"},
    {"{4D36E980-E325-11CE-BFC1-08002BE10318}", "Floppy disk drive"},
    {"{71A27CDD-812A-11D0-BEC7-08002BE2092F}", "Volume"},
    {"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "Human Interface Devices"},
}};

namespace {

constexpr std::string_view kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";

// The lists of the generation of a system version after XP; none for
// Windows XP and earlier. Windows 10 and 11 say 10.x, or 6.3 where they
// claim to be 8.1.
const ListasModoSeguro* ListasDeGeneracion(std::uint32_t mayor, std::uint32_t menor) {
  if (mayor <= 5) return nullptr;
  if (mayor == 6 && menor <= 1) return &kModoSeguroWindows7;  // Vista, 7
  return &kModoSeguroWindows10;                               // 8, 8.1, 10, 11
}

}  // namespace

// Windows XP and earlier load exactly the two lists: the key is deleted and
// written again. Later systems list many services and drivers of their own
// there (the RPC endpoint mapper, the volume manager, the display driver):
// their lists are completed, never cut, with the XP lists and the lists of
// the system's own generation. An unreadable version deletes nothing either.
// The version is the system's real one: in a "Windows XP" compatibility mode
// Windows 10 says 5.1, and its lists must not be cut down to XP's.
void Funciones::RepararModoSeguro() {
  RegistroDeTarea tarea(*this);
  const std::string base(kSafeBoot);
  std::uint32_t mayor = 0;
  std::uint32_t menor = 0;
  const bool version = platform_.system.RealVersion(&mayor, &menor);
  const bool reconstruir = version && mayor <= 5;
  const ListasModoSeguro* generacion = version ? ListasDeGeneracion(mayor, menor) : nullptr;
  if (reconstruir) registro().EliminarClave(kHkeyLocalMachine, base);
  registro().CrearNuevaClave(kHkeyLocalMachine, base);
  registro().EstablecerValor(kHkeyLocalMachine, base, "AlternateShell", "cmd.exe", kRegSz);

  const auto escribir_grupo = [&](std::string_view grupo,
                                  std::span<const EntradaModoSeguro> entradas_xp,
                                  std::span<const EntradaModoSeguro> entradas_generacion) {
    const std::string clave_grupo = base + "\\" + std::string(grupo);
    // What the group has, and then what is written: an entry is written once.
    std::vector<std::string> presentes;
    if (!reconstruir) {
      Reg_Func::ListarSubclaves(platform_.registry, presentes,
                                "HKEY_LOCAL_MACHINE\\" + clave_grupo);
    }
    registro().CrearNuevaClave(kHkeyLocalMachine, clave_grupo);
    const auto escribir = [&](const EntradaModoSeguro& entrada) {
      if (std::ranges::any_of(presentes, [&](const std::string& nombre) {
            return SameName(nombre, entrada.clave);
          })) {
        return;  // an entry the system has keeps whatever it holds
      }
      const std::string clave = clave_grupo + "\\" + std::string(entrada.clave);
      registro().CrearNuevaClave(kHkeyLocalMachine, clave);
      if (!entrada.texto.empty()) {  // else the entry has no default value
        registro().EstablecerValor(kHkeyLocalMachine, clave, "", std::string(entrada.texto),
                                   kRegSz);
      }
      presentes.emplace_back(entrada.clave);
    };
    std::ranges::for_each(entradas_xp, escribir);
    std::ranges::for_each(entradas_generacion, escribir);
  };
  const std::vector<EntradaModoSeguro> red = ModoSeguroRed();
  escribir_grupo("Minimal", kModoSeguroMinimo,
                 generacion ? generacion->minimo : std::span<const EntradaModoSeguro>());
  escribir_grupo("Network", red,
                 generacion ? generacion->red : std::span<const EntradaModoSeguro>());
}

}  // namespace sorbantilex
