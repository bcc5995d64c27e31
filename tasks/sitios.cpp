// Removal of trusted-zone and restricted-zone sites from the zone map.

#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_func.h"
#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

constexpr std::int32_t kZonaConfianza = 2;
constexpr std::int32_t kZonaRestringida = 4;

constexpr std::string_view kRaiz = "HKEY_CURRENT_USER\\";
constexpr std::string_view kDominios =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";

}  // namespace

void Funciones::EliminarSitiosDeZona(std::int32_t zona) {
  RegistroDeTarea tarea(*this);
  // Only a REG_DWORD "*" equal to the zone matches; text, binary data or a
  // missing value never does.
  const auto asignada_a_zona = [&](const std::string& clave) {
    const Variante valor = registro().ConsultarValor(kHkeyCurrentUser, clave, "*");
    return valor.IsInt32() && valor.ToInt32() == zona;
  };

  std::vector<std::string> dominios;
  Reg_Func::ListarSubclaves(platform_.registry, dominios, std::string(kRaiz).append(kDominios));
  platform_.ui.YieldToMessages();

  const std::string base = std::string(kDominios) + "\\";
  const std::size_t n = dominios.size() - 1;
  for (std::size_t i = 1; i <= n; ++i) {
    const std::string dominio = base + dominios[i];
    if (asignada_a_zona(dominio)) registro().EliminarClave(kHkeyCurrentUser, dominio);

    std::vector<std::string> subdominios;
    Reg_Func::ListarSubclaves(platform_.registry, subdominios, std::string(kRaiz).append(dominio));
    const std::size_t m = subdominios.size() - 1;
    for (std::size_t j = 1; j <= m; ++j) {
      const std::string subdominio = dominio + "\\" + subdominios[j];
      if (asignada_a_zona(subdominio)) registro().EliminarClave(kHkeyCurrentUser, subdominio);
    }
    platform_.ui.YieldToMessages();
  }
}

void Funciones::EliminarSitiosConfianza() { EliminarSitiosDeZona(kZonaConfianza); }

void Funciones::EliminarSitiosRestringidos() { EliminarSitiosDeZona(kZonaRestringida); }

}  // namespace sorbantilex
