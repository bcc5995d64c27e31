// Programs that malware keeps from starting, or watches as they end,
// through Image File Execution Options: a "Debugger" value runs another
// program in place of the image (a missing one, and the image never
// starts); the silent-process-exit flag of "GlobalFlag" and a
// SilentProcessExit key naming a monitor process start a program whenever
// the image ends.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tasks/tarea.h"

namespace sorbantilex {

namespace {

// The key under both views of the machine's software.
constexpr std::string_view kOpciones[] = {
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
};
constexpr std::string_view kSalidaSilenciosa[] = {
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit",
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit",
};

// FLG_MONITOR_SILENT_PROCESS_EXIT.
constexpr std::uint32_t kMonitorSalidaSilenciosa = 0x200;

// "GlobalFlag" as text, the way gflags writes it: "0x" and hex digits, or a
// decimal number. The loader reads both.
struct FlagEnTexto {
  std::uint32_t bits = 0;
  std::string prefijo;  // "0x", "0X" or empty for decimal
  std::size_t cifras = 0;
  bool mayusculas = false;
  bool terminado = false;  // stored with its terminating zero
};

std::optional<FlagEnTexto> LeerFlag(std::string texto) {
  FlagEnTexto flag;
  while (!texto.empty() && texto.back() == '\0') {
    flag.terminado = true;
    texto.pop_back();
  }
  if (texto.size() > 2 && texto[0] == '0' && (texto[1] == 'x' || texto[1] == 'X')) {
    flag.prefijo = texto.substr(0, 2);
    texto.erase(0, 2);
  }
  const int base = flag.prefijo.empty() ? 10 : 16;
  if (texto.empty() || texto.size() > 10) return std::nullopt;
  std::uint64_t valor = 0;
  for (const char c : texto) {
    const auto u = static_cast<unsigned char>(c);
    int cifra = 0;
    if (std::isdigit(u)) {
      cifra = c - '0';
    } else if (base == 16 && std::isxdigit(u)) {
      cifra = std::tolower(u) - 'a' + 10;
      flag.mayusculas = flag.mayusculas || std::isupper(u);
    } else {
      return std::nullopt;
    }
    valor = valor * static_cast<unsigned>(base) + static_cast<unsigned>(cifra);
  }
  if (valor > 0xFFFFFFFFu) return std::nullopt;
  flag.bits = static_cast<std::uint32_t>(valor);
  flag.cifras = texto.size();
  return flag;
}

// The flag written back in the form it was read.
std::string EscribirFlag(const FlagEnTexto& flag) {
  std::string cifras;
  if (flag.prefijo.empty()) {
    cifras = std::to_string(flag.bits);
  } else {
    const std::string_view digitos = flag.mayusculas ? "0123456789ABCDEF" : "0123456789abcdef";
    std::uint32_t resto = flag.bits;
    do {
      cifras.push_back(digitos[resto & 0xF]);
      resto >>= 4;
    } while (resto != 0 || cifras.size() < flag.cifras);
    std::reverse(cifras.begin(), cifras.end());
  }
  std::string texto = flag.prefijo + cifras;
  if (flag.terminado) texto.push_back('\0');
  return texto;
}

}  // namespace

void Funciones::QuitarDepuradores() {
  RegistroDeTarea tarea(*this);
  RegistryApi& registry = platform_.registry;

  // One image key, or one of its filter subkeys (which name the image by
  // its full path and hold the same values).
  const auto reparar = [&](const std::string& clave) {
    registro().EliminarValor(kHkeyLocalMachine, clave, "Debugger");
    const Variante flag = registro().ConsultarValor(kHkeyLocalMachine, clave, "GlobalFlag");
    if (flag.IsInt32()) {
      const auto bits = static_cast<std::uint32_t>(flag.ToInt32());
      if ((bits & kMonitorSalidaSilenciosa) == 0) return;
      registro().EstablecerValor(kHkeyLocalMachine, clave, "GlobalFlag",
                                 static_cast<std::int32_t>(bits & ~kMonitorSalidaSilenciosa),
                                 kRegDword);
    } else if (flag.IsText()) {
      auto leido = LeerFlag(flag.ToText());
      if (!leido || (leido->bits & kMonitorSalidaSilenciosa) == 0) return;
      leido->bits &= ~kMonitorSalidaSilenciosa;
      registro().EstablecerValor(kHkeyLocalMachine, clave, "GlobalFlag", EscribirFlag(*leido),
                                 kRegSz);
    }
  };

  for (const std::string_view opciones : kOpciones) {
    for (const std::string& imagen : Subclaves(registry, kHkeyLocalMachine, opciones)) {
      const std::string clave = std::string(opciones) + "\\" + imagen;
      reparar(clave);
      for (const std::string& filtro : Subclaves(registry, kHkeyLocalMachine, clave)) {
        reparar(clave + "\\" + filtro);
      }
    }
  }

  for (const std::string_view salida : kSalidaSilenciosa) {
    for (const std::string& imagen : Subclaves(registry, kHkeyLocalMachine, salida)) {
      const std::string clave = std::string(salida) + "\\" + imagen;
      if (ExisteValor(registry, kHkeyLocalMachine, clave, "MonitorProcess")) {
        registro().EliminarClave(kHkeyLocalMachine, clave);
      }
    }
  }
}

}  // namespace sorbantilex
