#pragma once

// The whole program over a small installation, with the Qt window system:
// the seeded registry, the real repairs and windows. What the run changed is
// read back through `Value`.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/menu.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_token.h"
#include "registry/registro.h"
#include "tasks/automation.h"
#include "tasks/files.h"
#include "tasks/funciones.h"
#include "tasks/system_info.h"
#include "ui/qt/qt_window_system.h"

namespace sorbantilex::testing {

inline constexpr std::string_view kSystemPolicies =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr std::string_view kExplorerMain = "Software\\Microsoft\\Internet Explorer\\Main";
inline constexpr std::string_view kInfectedStartPage = "http://hijacked.example/";

class XpSystem final : public SystemInfo {
 public:
  std::optional<std::string> Environment(std::string_view name) const override {
    if (name == "OS") return "Windows_NT";
    return std::nullopt;
  }
  std::string WindowsDirectory() const override { return "C:\\WINDOWS"; }
  bool Version(std::uint32_t* major, std::uint32_t* minor) const override {
    *major = 5;
    *minor = 1;
    return true;
  }
};

// The scenarios tick only repairs of the registry.
class NoFiles final : public Files {
 public:
  bool IsPlainFile(std::string_view) const override { throw std::logic_error("files used"); }
  void WriteReplacing(std::string_view, std::span<const std::uint8_t>) override {
    throw std::logic_error("files used");
  }
};
class NoWmi final : public Wmi {
 public:
  std::unique_ptr<AutomationObject> BindMoniker(std::string_view) override {
    throw std::logic_error("WMI used");
  }
};

struct Rig {
  MemoryRegistry registry;
  MemoryToken token{{"SeDebugPrivilege"}};
  XpSystem system;
  NoFiles files;
  NoWmi wmi;
  QtWindowSystem ui;
  Funciones funciones{TaskPlatform{registry, system, files, wmi, ui}};
  Menu menu{MenuPlatform{ui, funciones, token, system, registry}};

  explicit Rig(QtWindowSystem::Options options) : ui(std::move(options)) {
    Registro seed(registry);
    for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
      seed.CrearNuevaClave(root, kSystemPolicies);
      seed.EstablecerValor(root, kSystemPolicies, "DisableTaskMgr", "1", kRegDword);
    }
    seed.CrearNuevaClave(kHkeyCurrentUser, kExplorerMain);
    seed.EstablecerValor(kHkeyCurrentUser, kExplorerMain, "Start Page",
                         std::string(kInfectedStartPage), kRegSz);
    ui.Attach(menu);
  }

  /// The current user's start page; "" when missing.
  std::string StartPage() {
    const Variante value = Registro(registry).ConsultarValor(kHkeyCurrentUser, kExplorerMain,
                                                             "Start Page");
    return value.IsText() ? value.ToText() : std::string();
  }
  /// Whether the System policy key of the machine or the user still exists.
  bool HasSystemPolicies(KeyRef root) {
    return registry.Snapshot(root, kSystemPolicies).has_value();
  }
};

}  // namespace sorbantilex::testing
