#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_api.h"

namespace sorbantilex::Reg_Func {

/// Splits a full textual key path ("HKEY_CURRENT_USER\Software",
/// "HKCU\Software") into its root and the rest. On return `path` holds only
/// the part after the root. Never fails: a text without a recognised root
/// gives the default root, itself replaced by HKEY_CLASSES_ROOT when it is
/// no root; an unknown "HKEY_..." name gives HKEY_CLASSES_ROOT. All
/// comparisons are case-sensitive.
KeyRef ExtraerClaveRaiz(std::string& path, KeyRef default_root);

/// Lists the direct subkeys of the key named by a full textual path into
/// `list`: entry 0 is an empty placeholder, the names stand at entries
/// 1..N in the registry's enumeration order. True when the key could be
/// opened for reading; a missing key gives false and only entry 0.
bool ListarSubclaves(RegistryApi& registry, std::vector<std::string>& list, std::string_view path);

/// Closes a key handle and gives the close status.
Status CerrarClave(RegistryApi& registry, KeyRef key);

}  // namespace sorbantilex::Reg_Func
