#include "ui/cli/desktop_start.h"
#include "ui/cli/terminal.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace sorbantilex::cli {

namespace fs = std::filesystem;

namespace {

bool Executable(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

// The desktop program beside `self` (the running program), else at
// `installed`; nullopt when neither is an executable file.
std::optional<fs::path> FindDesktopProgram(const fs::path& self, const fs::path& installed) {
  if (!self.empty()) {
    const fs::path beside = self.parent_path() / kDesktopProgram;
    if (Executable(beside)) return beside;
  }
  if (Executable(installed)) return installed;
  return std::nullopt;
}

}  // namespace

bool DesktopAvailable() { return DisplayAvailable(); }

int StartDesktop(int& argc, char** argv, const Options&) {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path installed = SORBANTILEX_DESKTOP_INSTALLED;
  const auto program = FindDesktopProgram(self, installed);
  if (!program) {
    std::cerr << "sorbantilex: la ventana de Sorbantilex no está instalada (falta "
              << kDesktopProgram << " junto a "
              << Terminal(self.empty() ? std::string("sorbantilex") : self.string()) << " y en "
              << Terminal(installed.string())
              << ").\nRepare desde la línea de órdenes: sorbantilex --windows CARPETA --all, o "
                 "--task CLAVE (vea --help).\n";
    return kExitFailed;
  }
  std::string path = program->string();
  std::vector<char*> arguments{path.data()};
  for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
  arguments.push_back(nullptr);
  ::execv(path.c_str(), arguments.data());
  std::cerr << "sorbantilex: no se ha podido iniciar " << Terminal(path) << ": "
            << std::strerror(errno) << "\n";
  return kExitFailed;
}

}  // namespace sorbantilex::cli
