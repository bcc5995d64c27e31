// The hosts file.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tasks/funciones.h"

namespace sorbantilex {

void Funciones::RestaurarHosts() {
  constexpr std::string_view kRuta = "\\system32\\drivers\\etc\\hosts";
  constexpr std::string_view kContenido = "127.0.0.1 localhost\r\n";
  const std::string ruta = platform_.system.WindowsDirectory() + std::string(kRuta);
  // A missing file is created; a failure leaves the old file in place.
  platform_.files.WriteReplacing(
      ruta, {reinterpret_cast<const std::uint8_t*>(kContenido.data()), kContenido.size()});
}

}  // namespace sorbantilex
