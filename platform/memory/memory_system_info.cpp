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

namespace {

bool Give(const std::optional<std::pair<std::uint32_t, std::uint32_t>>& version,
          std::uint32_t* major, std::uint32_t* minor) {
  *major = version ? version->first : 0;
  *minor = version ? version->second : 0;
  return version.has_value();
}

}  // namespace

bool MemorySystemInfo::Version(std::uint32_t* major, std::uint32_t* minor) const {
  return Give(version_, major, minor);
}

bool MemorySystemInfo::RealVersion(std::uint32_t* major, std::uint32_t* minor) const {
  return Give(real_version_set_ ? real_version_ : version_, major, minor);
}

void MemorySystemInfo::SetEnvironment(std::string_view name, std::optional<std::string> value) {
  if (value) {
    environment_[UpperName(name)] = std::move(*value);
  } else {
    environment_.erase(UpperName(name));
  }
}

}  // namespace sorbantilex
