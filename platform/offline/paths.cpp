#include "platform/offline/paths.h"

#include <ctime>

#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

std::optional<fs::path> FindNoCase(const fs::path& folder, std::string_view name) {
  std::error_code error;
  if (fs::exists(folder / std::string(name), error)) return folder / std::string(name);
  const std::string upper = UpperName(name);
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (UpperName(entry.path().filename().string()) == upper) return entry.path();
  }
  return std::nullopt;
}

fs::path ResolveNoCase(const fs::path& base, std::string_view relative) {
  fs::path current = base;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const auto end = relative.find_first_of("\\/", start);
    const auto part = relative.substr(
        start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!part.empty() && part != "." && part != "..") {  // never above the base
      const auto found = FindNoCase(current, part);
      current = found ? *found : current / std::string(part);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return current;
}

std::filesystem::path FreeBackupPath(const std::filesystem::path& file) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string stem = file.filename().string() + ".sorbantilex-" + stamp;
  std::filesystem::path backup = file.parent_path() / (stem + ".bak");
  // A name is taken by anything standing there, a dangling link included.
  auto taken = [](const std::filesystem::path& name) {
    std::error_code error;
    return std::filesystem::symlink_status(name, error).type() !=
           std::filesystem::file_type::not_found;
  };
  for (int n = 2; taken(backup); ++n) {
    backup = file.parent_path() / (stem + "-" + std::to_string(n) + ".bak");
  }
  return backup;
}

}  // namespace sorbantilex::offline
