#pragma once

#include "tasks/system_info.h"

namespace sorbantilex {

/// What the program reads of the running Windows: the process environment,
/// the Windows directory and the version GetVersionEx reports (which, for an
/// executable without a manifest naming the system, may be an older one).
class Win32SystemInfo final : public SystemInfo {
 public:
  std::optional<std::string> Environment(std::string_view name) const override;
  std::string WindowsDirectory() const override;
  bool Version(std::uint32_t* major, std::uint32_t* minor) const override;
};

}  // namespace sorbantilex
