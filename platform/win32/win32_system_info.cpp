#include "platform/win32/win32_system_info.h"

#include <windows.h>

#include <vector>

#include "platform/win32/dynamic_function.h"
#include "platform/win32/text.h"

namespace sorbantilex {

std::optional<std::string> Win32SystemInfo::Environment(std::string_view name) const {
  std::wstring wide_name;
  if (name.empty() || name.find('\0') != std::string_view::npos ||
      !win32::Utf8ToWide(name, &wide_name)) {
    return std::nullopt;
  }
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                                   static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      // Set but empty, or not set at all.
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < buffer.size()) return win32::Utf8(std::wstring_view(buffer.data(), length));
    buffer.resize(length);  // `length` counts the terminator here
  }
}

std::string Win32SystemInfo::WindowsDirectory() const {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  return win32::Utf8(std::wstring_view(buffer, length));
}

bool Win32SystemInfo::Version(std::uint32_t* major, std::uint32_t* minor) const {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated, and still what the program asks
#endif
  const BOOL ok = ::GetVersionExA(&info);
  *major = ok ? info.dwMajorVersion : 0;
  *minor = ok ? info.dwMinorVersion : 0;
  return ok != FALSE;
}

bool Win32SystemInfo::RealVersion(std::uint32_t* major, std::uint32_t* minor) const {
  // NTSTATUS RtlGetVersion(RTL_OSVERSIONINFOW*), loaded at run time: the
  // import library of an older toolchain may lack it.
  using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const auto rtl_get_version =
      win32::LoadSystemFunction<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion");
  if (rtl_get_version == nullptr) return Version(major, minor);
  RTL_OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  const bool ok = rtl_get_version(&info) >= 0;  // NT_SUCCESS
  *major = ok ? info.dwMajorVersion : 0;
  *minor = ok ? info.dwMinorVersion : 0;
  return ok;
}

}  // namespace sorbantilex
