#include "platform/win32/win32_token.h"

#include <windows.h>

#include <string>

namespace sorbantilex {
namespace {

HANDLE ToHandle(HandleRef handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

HandleRef Win32Token::CurrentProcess() {
  const HANDLE process = ::GetCurrentProcess();
  last_error_ = ::GetLastError();
  return reinterpret_cast<HandleRef>(process);
}

bool Win32Token::OpenProcessToken(HandleRef process, std::uint32_t access, HandleRef* token) {
  HANDLE opened = nullptr;
  const BOOL ok = ::OpenProcessToken(ToHandle(process), access, &opened);
  last_error_ = ::GetLastError();
  *token = ok ? reinterpret_cast<HandleRef>(opened) : 0;
  return ok != FALSE;
}

bool Win32Token::LookupPrivilege(std::string_view name, Luid* luid) {
  // Privilege names are plain ASCII ("SeDebugPrivilege").
  const std::string text(name);
  LUID found{};
  const BOOL ok = ::LookupPrivilegeValueA(nullptr, text.c_str(), &found);
  last_error_ = ::GetLastError();
  if (ok) *luid = Luid{found.LowPart, found.HighPart};
  return ok != FALSE;
}

bool Win32Token::AdjustPrivileges(HandleRef token, bool disable_all,
                                  const TokenPrivileges& new_state) {
  TOKEN_PRIVILEGES privileges{};
  // The record holds one entry, never more.
  privileges.PrivilegeCount = new_state.count > 1 ? 1 : new_state.count;
  privileges.Privileges[0].Luid.LowPart = new_state.luid.low;
  privileges.Privileges[0].Luid.HighPart = new_state.luid.high;
  privileges.Privileges[0].Attributes = new_state.attributes;
  // The call reports a token without the privilege through the last error
  // alone, so it must start from 0.
  ::SetLastError(ERROR_SUCCESS);
  const BOOL ok = ::AdjustTokenPrivileges(ToHandle(token), disable_all ? TRUE : FALSE, &privileges,
                                          0, nullptr, nullptr);
  last_error_ = ::GetLastError();
  return ok != FALSE;
}

bool Win32Token::CloseHandle(HandleRef handle) {
  const BOOL ok = ::CloseHandle(ToHandle(handle));
  last_error_ = ::GetLastError();
  return ok != FALSE;
}

}  // namespace sorbantilex
