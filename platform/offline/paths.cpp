#include "platform/offline/paths.h"

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
    const auto part = relative.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!part.empty() && part != "." && part != "..") {  // never above the base
      const auto found = FindNoCase(current, part);
      current = found ? *found : current / std::string(part);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return current;
}

}  // namespace sorbantilex::offline
