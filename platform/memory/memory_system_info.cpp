#include "platform/memory/memory_system_info.h"

#include "registry/key_names.h"

namespace sorbantilex {

MemorySystemInfo::MemorySystemInfo() {
  SetEnvironment("OS", "Windows_NT");
  SetEnvironment("SystemRoot", "C:\\WINDOWS");
}

std::optional<std::string> MemorySystemInfo::Environment(std::string_view name) const {
  const auto found = environment_.find(UpperName(name));
  if (found == environment_.end()) return std::nullopt;
  return found->second;
}

std::string MemorySystemInfo::WindowsDirectory() const { return windows_directory_; }

bool MemorySystemInfo::Version(std::uint32_t* major, std::uint32_t* minor) const {
  *major = version_ ? version_->first : 0;
  *minor = version_ ? version_->second : 0;
  return version_.has_value();
}

void MemorySystemInfo::SetEnvironment(std::string_view name, std::optional<std::string> value) {
  if (value) {
    environment_[UpperName(name)] = std::move(*value);
  } else {
    environment_.erase(UpperName(name));
  }
}

}  // namespace sorbantilex
