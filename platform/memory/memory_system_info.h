#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "tasks/system_info.h"

namespace sorbantilex {

/// A settable system: a Windows XP installed in C:\WINDOWS, with "OS" set to
/// "Windows_NT" and "SystemRoot" to the Windows directory, until a test says
/// otherwise.
class MemorySystemInfo final : public SystemInfo {
 public:
  MemorySystemInfo();

  std::optional<std::string> Environment(std::string_view name) const override;
  std::string WindowsDirectory() const override;
  bool Version(std::uint32_t* major, std::uint32_t* minor) const override;
  bool RealVersion(std::uint32_t* major, std::uint32_t* minor) const override;

  /// Sets a variable, or removes it with nullopt.
  void SetEnvironment(std::string_view name, std::optional<std::string> value);
  void SetWindowsDirectory(std::string directory) { windows_directory_ = std::move(directory); }
  /// nullopt makes the version query fail.
  void SetVersion(std::optional<std::pair<std::uint32_t, std::uint32_t>> version) {
    version_ = version;
  }
  /// The system's real version apart from the one `Version` reports, as in a
  /// compatibility mode; nullopt makes its query fail. Until it is set, the
  /// real version is the reported one.
  void SetRealVersion(std::optional<std::pair<std::uint32_t, std::uint32_t>> version) {
    real_version_ = version;
    real_version_set_ = true;
  }

 private:
  std::map<std::string, std::string> environment_;  // by upper-cased name
  std::string windows_directory_ = "C:\\WINDOWS";
  std::optional<std::pair<std::uint32_t, std::uint32_t>> version_ = std::pair{5u, 1u};
  std::optional<std::pair<std::uint32_t, std::uint32_t>> real_version_;
  bool real_version_set_ = false;
};

}  // namespace sorbantilex
