#pragma once

// The whole program over a small generated installation, with the Qt window
// system: the installation's hives, the real repairs and windows.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/menu.h"
#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/installation/offline_platform.h"
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
inline constexpr std::string_view kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

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

/// A small generated installation in `folder`: blank hives with what the
/// scenarios repair (System policies for the machine and the user, a
/// hijacked start page, a proxy forced on the user).
inline offline::HivePaths MakeInstallation(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  offline::HivePaths paths{folder / "SOFTWARE", folder / "SYSTEM", folder / "NTUSER.DAT",
                           "S-1-5-21-1004336348-1177238915-682003330-1000"};
  offline::WriteBlankHive(paths.software, "CMI-CreateHive{SOFTWARE}");
  offline::WriteBlankHive(paths.system, "CMI-CreateHive{SYSTEM}");
  offline::WriteBlankHive(paths.user, "CMI-CreateHive{NTUSER}");
  offline::HiveRegistry registry(paths, true);
  Registro seed(registry);
  seed.CrearNuevaClave(kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Control");
  seed.CrearNuevaClave(kHkeyLocalMachine, "SYSTEM\\Select");
  seed.EstablecerValor(kHkeyLocalMachine, "SYSTEM\\Select", "Current", "1", kRegDword);
  for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    seed.CrearNuevaClave(root, kSystemPolicies);
    seed.EstablecerValor(root, kSystemPolicies, "DisableTaskMgr", "1", kRegDword);
  }
  seed.CrearNuevaClave(kHkeyCurrentUser, kExplorerMain);
  seed.EstablecerValor(kHkeyCurrentUser, kExplorerMain, "Start Page",
                       std::string(kInfectedStartPage), kRegSz);
  seed.CrearNuevaClave(kHkeyCurrentUser, kInternetSettings);
  seed.EstablecerValor(kHkeyCurrentUser, kInternetSettings, "ProxyServer", "127.0.0.1:8080",
                       kRegSz);
  offline::CommitHooks hooks;
  hooks.keep_backup = false;
  const auto report = registry.Commit(hooks);
  if (!report.errors.empty()) throw report.errors.front();
  return paths;
}

/// What a run left in an installation's hives.
struct Left {
  std::string start_page;         // the current user's; "" when missing
  bool machine_policies = false;  // the System policy key is still there
  bool user_policies = false;
  bool proxy = false;  // the user's ProxyServer is still there

  static Left In(const offline::HivePaths& paths) {
    offline::HiveRegistry registry(paths, false);
    const Variante page =
        Registro(registry).ConsultarValor(kHkeyCurrentUser, kExplorerMain, "Start Page");
    const auto exists = [&](KeyRef root, const std::string& path) {
      KeyRef key = kNullKey;
      const bool found = registry.OpenKey(root, path, 0, kKeyRead, &key) == kErrorSuccess;
      if (found) registry.CloseKey(key);
      return found;
    };
    return {page.IsText() ? page.ToText() : std::string(),
            exists(kHkeyLocalMachine, std::string(kSystemPolicies)),
            exists(kHkeyCurrentUser, std::string(kSystemPolicies)),
            Registro(registry)
                .ConsultarValor(kHkeyCurrentUser, kInternetSettings, "ProxyServer")
                .IsText()};
  }
};

/// The program over an installation: its hives, the real repairs and
/// windows. Changes stay in memory until `Commit`.
struct Rig {
  offline::HiveRegistry registry;
  offline::OfflineToken token;
  XpSystem system;
  NoFiles files;
  NoWmi wmi;
  QtWindowSystem ui;
  Funciones funciones{TaskPlatform{registry, system, files, wmi, ui}};
  Menu menu{MenuPlatform{ui, funciones, token, system, registry, /*offline=*/true}};

  Rig(const offline::HivePaths& installation, QtWindowSystem::Options options)
      : registry(installation, true), ui(std::move(options)) {
    ui.Attach(menu);
  }
  void Commit() {
    const auto report = registry.Commit();
    if (!report.errors.empty()) throw report.errors.front();
  }
};

}  // namespace sorbantilex::testing
