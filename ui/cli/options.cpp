#include "ui/cli/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "ui/cli/terminal.h"

namespace sorbantilex::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUsage =
    "Uso: sorbantilex [--windows CARPETA] [--user NOMBRE ...] (--task CLAVE ... | --all)\n"
    "                 [--start-page TEXTO] [--dry-run]\n"
    "     sorbantilex [--windows CARPETA] [--user NOMBRE ...] --informe [--json]\n"
    "     sorbantilex [--windows CARPETA] [--user NOMBRE ...]  (la ventana)\n"
    "     sorbantilex --rescate  (la ventana de rescate)\n"
    "     sorbantilex --list | --help | --version\n";

constexpr std::string_view kHelp =
    "Repara desde Linux una instalación de Windows montada en una carpeta: elimina las\n"
    "restricciones y los secuestros que deja el malware en el registro y el archivo hosts.\n"
    "\n"
    "  --windows CARPETA   la carpeta donde está montada la partición de Windows (la que\n"
    "                      contiene la carpeta Windows); sin ella se busca entre los\n"
    "                      sistemas de archivos montados\n"
    "  --user NOMBRE       limita a este perfil (nombre de carpeta o SID) las reparaciones\n"
    "                      de HKEY_CURRENT_USER (repetible); sin --user se reparan todos\n"
    "                      los perfiles que tienen NTUSER.DAT\n"
    "  --task CLAVE        marca una reparación (repetible; --list muestra las claves)\n"
    "  --all               marca todas, como el doble clic en cada marco\n"
    "  --start-page TEXTO  lo que se escribe en el diálogo de la página de inicio (sin esta\n"
    "                      opción se acepta la dirección inicial del diálogo)\n"
    "  --dry-run           lo hace todo y muestra cada cambio, pero no escribe nada\n"
    "  --informe           muestra lo que cada reparación cambiaría, por instalación y por\n"
    "                      perfil, sin escribir nada (sirve también en una partición de\n"
    "                      solo lectura o hibernada)\n"
    "  --json              con --informe, el informe como un documento JSON\n"
    "  --rescate           la ventana de rescate del USB de Sorbantilex (como\n"
    "                      administrador): busca las instalaciones de Windows en los\n"
    "                      discos del equipo, monta la elegida y abre en ella la ventana\n"
    "                      de Sorbantilex; no admite otras opciones\n"
    "  --list              las claves de las reparaciones con su texto\n"
    "  -h, --help, --version\n"
    "\n"
    "Sin --task, --all, --dry-run, --start-page ni --informe, en una sesión gráfica se abre\n"
    "la ventana de Sorbantilex sobre la instalación (si hay varias instalaciones o perfiles,\n"
    "se elige primero: todos los perfiles o uno).\n"
    "\n"
    "Los archivos de registro cambiados se guardan al terminar; el anterior queda al lado\n"
    "como copia de seguridad fechada. Salida: 0 al terminar (el informe, haya o no algo que\n"
    "reparar), 1 tras un error o un rechazo, 2 por un uso incorrecto o sin ninguna reparación\n"
    "marcada.\n";

}  // namespace

std::optional<Options> Parse(int argc, char** argv, int* early_exit) {
  Options options;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  auto usage = [&](std::string_view problem) {
    std::cerr << "sorbantilex: " << Terminal(problem) << "\n" << kUsage;
    *early_exit = kExitUsage;
    return std::nullopt;
  };
  // --help, --version and --list answer alone: every argument is read, and
  // any that is unknown, missing its value or extra is a usage error,
  // wherever it stands.
  std::optional<std::string_view> alone;
  std::vector<std::string_view> given_once;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "--list") {
      if (alone) return usage(std::string(*alone) + " no admite otros argumentos");
      alone = arg;
    } else if (arg == "--all") {
      options.all = true;
    } else if (arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--informe") {
      options.report = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--rescate") {
      options.rescue = true;
    } else if (arg == "--windows" || arg == "--user" || arg == "--task" || arg == "--start-page") {
      const auto given = value();
      if (!given) return usage("falta el valor de " + std::string(arg));
      if (arg != "--task" && arg != "--user") {
        if (std::find(given_once.begin(), given_once.end(), arg) != given_once.end())
          return usage(std::string(arg) + " aparece más de una vez");
        given_once.push_back(arg);
      }
      if (arg == "--windows") {
        options.windows = fs::path(std::string(*given));
      } else if (arg == "--user") {
        if (std::find(options.users.begin(), options.users.end(), *given) == options.users.end())
          options.users.emplace_back(*given);
      } else if (arg == "--start-page") {
        options.start_page = std::string(*given);
      } else {
        const Step* found = nullptr;
        for (const Step& step : kSteps) {
          if (step.HasBox() && step.key == *given) found = &step;
        }
        if (found == nullptr)
          return usage("reparación desconocida: " + std::string(*given) + " (vea --list)");
        options.tasks.push_back(found);
      }
    } else if (!arg.starts_with("-")) {
      return usage("argumento inesperado: " + std::string(arg));
    } else {
      return usage("opción desconocida: " + std::string(arg));
    }
  }
  if (alone && args.size() != 1) return usage(std::string(*alone) + " no admite otros argumentos");
  if (options.rescue && args.size() != 1) return usage("--rescate no admite otras opciones");
  if (options.json && !options.report) return usage("--json solo se usa con --informe");
  if (options.report &&
      (options.all || !options.tasks.empty() || options.dry_run || options.start_page)) {
    return usage("--informe no repara nada: no admite --task, --all, --dry-run ni --start-page");
  }
  if (alone) {
    if (*alone == "--version") {
      std::cout << "Sorbantilex 1.9.2\n";
    } else if (*alone == "--list") {
      for (const Step& step : kSteps) {
        if (!step.HasBox()) continue;
        std::printf("%-28s %s\n", std::string(step.key).c_str(), std::string(step.caption).c_str());
      }
    } else {
      std::cout << kUsage << "\n" << kHelp;
    }
    *early_exit = kExitDone;
    return std::nullopt;
  }
  return options;
}

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool OpensDesktop(const Options& options, bool display_available) {
  const bool command_line_work = options.all || !options.tasks.empty() || options.dry_run ||
                                 options.start_page.has_value() || options.report;
  return display_available && !command_line_work;
}

}  // namespace sorbantilex::cli
