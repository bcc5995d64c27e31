// Starting and stopping services through WMI.

#include <memory>
#include <string>
#include <string_view>

#include "registry/failure.h"
#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

constexpr std::string_view kMonikerCimv2 =
    "winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";

}  // namespace

void Funciones::ControlarServicio(std::int32_t accion, std::string_view servicio) {
  const std::unique_ptr<AutomationObject> servicios = platform_.wmi.BindMoniker(kMonikerCimv2);
  if (!servicios) throw Failure(kSinObjeto, "WMI no devolvió el espacio de nombres root\\cimv2.");

  // The name goes in as it is: a name that matches no service gives an
  // empty collection.
  const AutomationArg consulta[] = {
      std::string("Select * from Win32_Service Where Name ='").append(servicio).append("'")};
  const std::unique_ptr<AutomationObject> resultado = servicios->Invoke("ExecQuery", consulta);
  if (!resultado) throw Failure(kSinObjeto, "WMI no devolvió la lista de servicios.");

  const std::unique_ptr<AutomationEnumerator> instancias = resultado->NewEnum();
  if (!instancias) throw Failure(kSinObjeto, "WMI no devolvió la lista de servicios.");
  const std::string_view metodo = accion != 0 ? "StartService" : "StopService";
  while (const std::unique_ptr<AutomationObject> instancia = instancias->Next()) {
    // The service manager's answer is not examined.
    (void)instancia->Invoke(metodo, {});
    platform_.ui.YieldToMessages();
  }
}

}  // namespace sorbantilex
