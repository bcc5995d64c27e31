#include "platform/offline/huge_pages.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace sorbantilex::offline {

namespace {

constexpr std::string_view kHugePageTunable = "glibc.malloc.hugetlb";
constexpr const char* kTransparentHugePages = "/sys/kernel/mm/transparent_hugepage/enabled";

}  // namespace

std::optional<std::string> HugePageTunables(std::optional<std::string_view> tunables,
                                            std::string_view transparent_huge_pages) {
  // The mode in use is the one in brackets.
  const bool used = transparent_huge_pages.find("[always]") != std::string_view::npos ||
                    transparent_huge_pages.find("[madvise]") != std::string_view::npos;
  if (!used) return std::nullopt;
  const std::string setting = std::string(kHugePageTunable) + "=1";
  if (!tunables || tunables->empty()) return setting;
  // Tunables are name=value pairs separated by colons.
  std::string_view rest = *tunables;
  while (!rest.empty()) {
    const auto end = rest.find(':');
    const std::string_view pair = rest.substr(0, end);
    if (pair.substr(0, pair.find('=')) == kHugePageTunable) return std::nullopt;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return std::string(*tunables) + ":" + setting;
}

bool AskForHugePageBuffers() {
  std::ifstream mode_file(kTransparentHugePages);
  std::string mode;
  std::getline(mode_file, mode);
  const char* now = std::getenv("GLIBC_TUNABLES");
  const auto wanted =
      HugePageTunables(now != nullptr ? std::optional<std::string_view>(now) : std::nullopt, mode);
  return wanted && ::setenv("GLIBC_TUNABLES", wanted->c_str(), 1) == 0;
}

void RestartWithHugePageBuffers(char** argv) {
  if (!AskForHugePageBuffers()) return;
  ::execv("/proc/self/exe", argv);
  // Not started again: the run goes on, only slower. The setting stays, so
  // that no later step tries again.
}

}  // namespace sorbantilex::offline
