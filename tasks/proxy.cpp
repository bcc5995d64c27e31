// A proxy set for the user so that the malware sees, or changes, every page
// the browsers load, and the policies that keep it in place.

#include <string>
#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

void Funciones::QuitarProxy() {
  constexpr std::string_view kInternet =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  constexpr std::string_view kConexiones =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  constexpr std::string_view kDirectivasEquipo =
      "SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  constexpr std::string_view kDirectivasUsuario =
      "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

  RegistroDeTarea tarea(*this);
  // Written where it is not a REG_DWORD 0 already, and never into a missing
  // key.
  const Variante activo = registro().ConsultarValor(kHkeyCurrentUser, kInternet, "ProxyEnable");
  if (!(activo.IsInt32() && activo.ToInt32() == 0)) {
    registro().EstablecerValor(kHkeyCurrentUser, kInternet, "ProxyEnable", std::int32_t{0},
                               kRegDword);
  }
  registro().EliminarValor(kHkeyCurrentUser, kInternet, "ProxyServer");
  registro().EliminarValor(kHkeyCurrentUser, kInternet, "AutoConfigURL");
  // The connections' settings, proxy included, as binary blobs; Windows
  // writes them again, direct, when they are missing.
  registro().EliminarValor(kHkeyCurrentUser, kConexiones, "DefaultConnectionSettings");
  registro().EliminarValor(kHkeyCurrentUser, kConexiones, "SavedLegacySettings");
  registro().EliminarClave(kHkeyLocalMachine, kDirectivasEquipo);
  registro().EliminarClave(kHkeyCurrentUser, kDirectivasUsuario);
}

}  // namespace sorbantilex
