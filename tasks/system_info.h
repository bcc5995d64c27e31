#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorbantilex {

/// What the program reads of the system it runs on.
class SystemInfo {
 public:
  SystemInfo() = default;
  virtual ~SystemInfo() = default;
  SystemInfo(const SystemInfo&) = delete;
  SystemInfo& operator=(const SystemInfo&) = delete;

  /// An environment variable (names compared without regard to letter case,
  /// as Windows does); nullopt when it is not set.
  virtual std::optional<std::string> Environment(std::string_view name) const = 0;
  /// GetWindowsDirectory: the system's own path, such as "C:\WINDOWS". It is
  /// the text written into the registry and the base of file paths given to
  /// `Files`.
  virtual std::string WindowsDirectory() const = 0;
  /// GetVersionEx: major and minor version; false (and 0, 0) when it fails.
  virtual bool Version(std::uint32_t* major, std::uint32_t* minor) const = 0;
};

}  // namespace sorbantilex
