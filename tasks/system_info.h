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
  /// A compatibility mode the program was started in changes it (a "Windows
  /// XP" mode makes Windows 10 say 5.1).
  virtual bool Version(std::uint32_t* major, std::uint32_t* minor) const = 0;
  /// The version of the system itself, whatever compatibility mode the
  /// program runs in; false (and 0, 0) when it cannot be read. By default the
  /// one `Version` reports, for systems where the two cannot differ.
  virtual bool RealVersion(std::uint32_t* major, std::uint32_t* minor) const {
    return Version(major, minor);
  }
};

}  // namespace sorbantilex
