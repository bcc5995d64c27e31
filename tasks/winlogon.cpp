// The Winlogon "Shell" and "Userinit" values.

#include <algorithm>
#include <string>
#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

constexpr std::string_view kWinlogon = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr std::string_view kShell = "Explorer.exe";
constexpr std::string_view kCarpetaHabitual = "C:\\WINDOWS";
constexpr std::string_view kUserinitHabitual = "C:\\WINDOWS\\system32\\userinit.exe,";
constexpr std::string_view kUserinitRelativo = "\\system32\\userinit.exe,";

bool MismaCarpeta(std::string_view a, std::string_view b) {
  const auto mayuscula = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  };
  return std::ranges::equal(a, b, {}, mayuscula, mayuscula);
}

// The userinit program of the running system: the usual text for a system in
// C:\WINDOWS, otherwise the program under the system's own folder, so that a
// system installed elsewhere can still log on.
std::string TextoUserinit(std::string carpeta) {
  while (carpeta.size() > 1 && carpeta.back() == '\\') carpeta.pop_back();
  if (carpeta.empty() || MismaCarpeta(carpeta, kCarpetaHabitual)) {
    return std::string(kUserinitHabitual);
  }
  return carpeta.append(kUserinitRelativo);
}

}  // namespace

void Funciones::RestaurarShell() {
  RegistroDeTarea tarea(*this);
  registro().EstablecerValor(kHkeyLocalMachine, kWinlogon, "Shell", std::string(kShell), kRegSz);
}

void Funciones::RestaurarUserinit() {
  RegistroDeTarea tarea(*this);
  registro().EstablecerValor(kHkeyLocalMachine, kWinlogon, "Userinit",
                             TextoUserinit(platform_.system.WindowsDirectory()), kRegSz);
}

}  // namespace sorbantilex
