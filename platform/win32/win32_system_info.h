#pragma once

#include "tasks/system_info.h"

namespace sorbantilex {

/// What the program reads of the running Windows: the process environment,
/// the Windows directory, the version GetVersionEx reports (which, for an
/// executable without a manifest naming the system or one started in a
/// compatibility mode, may be an older one) and the real version, from
/// RtlGetVersion of ntdll, which neither changes.
class Win32SystemInfo final : public SystemInfo {
 public:
  std::optional<std::string> Environment(std::string_view name) const override;
  std::string WindowsDirectory() const override;
  bool Version(std::uint32_t* major, std::uint32_t* minor) const override;
  bool RealVersion(std::uint32_t* major, std::uint32_t* minor) const override;
};

}  // namespace sorbantilex
