#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sorbantilex::offline {

/// `relative` (components separated by backslashes or slashes) beneath
/// `base`, each component matched without regard to letter case as Windows
/// matches it. Components that do not exist are kept as given.
std::filesystem::path ResolveNoCase(const std::filesystem::path& base, std::string_view relative);

/// The entry of `folder` named `name` without regard to letter case, or
/// nullopt.
std::optional<std::filesystem::path> FindNoCase(const std::filesystem::path& folder,
                                                std::string_view name);

/// A name beside `file` for keeping its old content:
/// "<name>.sorbantilex-<date>-<time>.bak", with "-2", "-3"... added when that
/// name is taken.
std::filesystem::path FreeBackupPath(const std::filesystem::path& file);

}  // namespace sorbantilex::offline
