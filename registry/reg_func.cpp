#include "registry/reg_func.h"

#include <algorithm>
#include <array>

#include "registry/registro.h"

namespace sorbantilex::Reg_Func {

namespace {

struct RootName {
  std::string_view long_name;
  std::string_view short_prefix;  // with its backslash
  KeyRef root;
};

// Tried in this order, both the short prefixes and the long names.
constexpr std::array<RootName, 7> kRoots = {{
    {"HKEY_CLASSES_ROOT", "HKCR\\", kHkeyClassesRoot},
    {"HKEY_CURRENT_USER", "HKCU\\", kHkeyCurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM\\", kHkeyLocalMachine},
    {"HKEY_USERS", "HKU\\", kHkeyUsers},
    {"HKEY_CURRENT_CONFIG", "HKCC\\", kHkeyCurrentConfig},
    {"HKEY_DYN_DATA", "HKDD\\", kHkeyDynData},
    {"HKEY_PERFORMANCE_DATA", "HKPD\\", kHkeyPerformanceData},
}};

}  // namespace

KeyRef ExtraerClaveRaiz(std::string& path, KeyRef default_root) {
  std::string root_name;
  bool empty_long_name = false;

  if (path.find("HKEY_") != std::string::npos) {
    const auto slash = path.find('\\');
    if (slash != std::string::npos) {
      root_name = path.substr(0, slash);
      path.erase(0, slash + 1);
    } else {
      root_name = path;
      path.clear();
    }
    empty_long_name = root_name.empty();
  } else {
    for (const auto& row : kRoots) {
      if (path.starts_with(row.short_prefix)) {
        root_name = row.long_name;
        path.erase(0, row.short_prefix.size());
        break;
      }
    }
  }

  if (root_name.empty()) {
    if (empty_long_name) return default_root;  // a path that began with a backslash
    return IsRootKey(default_root) ? default_root : kHkeyClassesRoot;
  }

  for (const auto& row : kRoots) {
    if (root_name == row.long_name) return row.root;
  }
  return kHkeyClassesRoot;
}

bool ListarSubclaves(RegistryApi& registry, std::vector<std::string>& list, std::string_view path) {
  list.assign(1, std::string());

  std::string rest(path);
  const KeyRef root = ExtraerClaveRaiz(rest, 0);

  ScopedKey key(registry);
  const bool opened = registry.OpenKey(root, rest, 0, kKeyRead, key.out()) == kErrorSuccess;
  if (opened) {
    std::uint32_t subkeys = 0;
    std::uint32_t longest = 0;
    if (registry.QueryInfoKey(key.get(), &subkeys, &longest) != kErrorSuccess) subkeys = 0;

    std::vector<char> name(static_cast<std::size_t>(longest) + 1);
    for (std::uint32_t index = 0; index < subkeys; ++index) {
      auto length = static_cast<std::uint32_t>(name.size());
      const Status status = registry.EnumKey(key.get(), index, name.data(), &length);
      if (status == kErrorSuccess || status == kErrorMoreData) {
        list.emplace_back(name.data(), std::min<std::size_t>(length, name.size()));
      }
    }
  }
  // Closed through CerrarClave; the null handle of a failed open is closed
  // too, and refused.
  (void)CerrarClave(registry, key.get());
  key.Dismiss();
  return opened;
}

Status CerrarClave(RegistryApi& registry, KeyRef key) { return registry.CloseKey(key); }

}  // namespace sorbantilex::Reg_Func
