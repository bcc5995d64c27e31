// sorbantilex-rescate: the rescue system's console (see console.h).

#include <unistd.h>

#include <iostream>
#include <string_view>

#include "ui/rescue/console.h"

namespace {

constexpr std::string_view kUsage =
    "Uso: sorbantilex-rescate [--auto] [--registro ARCHIVO]\n"
    "  (sin opciones)      un menú para elegir una instalación de Windows y repararla\n"
    "  --auto              repara sin preguntar cada Windows que se pueda reparar sin\n"
    "                      riesgo; termina con la línea «sorbantilex.auto: estado N»\n"
    "  --registro ARCHIVO  dónde se anota lo hecho (/run/sorbantilex/registro.txt)\n";

int Run(int argc, char** argv) {
  sorbantilex::rescue_console::Settings settings;
  bool automatic = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--auto") {
      automatic = true;
    } else if (arg == "--registro" && i + 1 < argc) {
      settings.log = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << "sorbantilex-rescate: argumento no válido: " << arg << "\n" << kUsage;
      return 2;
    }
  }
  if (::geteuid() != 0) {
    std::cerr << "sorbantilex-rescate: hay que ejecutarlo como administrador (root): sin ese "
                 "permiso no se pueden abrir los discos.\n";
    if (automatic) std::cout << "sorbantilex.auto: estado 1\n";
    return 1;
  }
  settings.command_line = sorbantilex::rescue_console::FindCommandLine();
  const auto commands = sorbantilex::rescue::SystemCommands();
  if (automatic) return sorbantilex::rescue_console::RunAuto(*commands, settings, std::cout);
  return sorbantilex::rescue_console::RunMenu(*commands, settings, std::cin, std::cout);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex-rescate: error inesperado: " << error.what() << "\n";
    return 1;
  }
}
