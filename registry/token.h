#pragma once

#include <cstdint>
#include <string_view>

namespace sorbantilex {

/// A process or token handle as the platform gives it; 0 is no handle.
using HandleRef = std::uintptr_t;

/// A locally unique identifier: low 32 bits, then high 32 bits.
struct Luid {
  std::uint32_t low = 0;
  std::int32_t high = 0;
};

/// TOKEN_PRIVILEGES with one entry.
struct TokenPrivileges {
  std::uint32_t count = 1;
  Luid luid;
  std::uint32_t attributes = 0;
};

inline constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;
inline constexpr std::uint32_t kTokenQuery = 0x08;
inline constexpr std::uint32_t kSePrivilegeEnabled = 2;
inline constexpr std::uint32_t kErrorNotAllAssigned = 1300;
inline constexpr std::uint32_t kErrorNoSuchPrivilege = 1313;

/// The process-token functions, with the semantics of the Windows functions
/// they are named after. Each call sets the thread's last error, which
/// `LastError` reads right after it.
class Token {
 public:
  Token() = default;
  virtual ~Token() = default;
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;

  /// GetCurrentProcess: the pseudo handle of the own process.
  virtual HandleRef CurrentProcess() = 0;
  /// OpenProcessToken.
  virtual bool OpenProcessToken(HandleRef process, std::uint32_t access, HandleRef* token) = 0;
  /// LookupPrivilegeValue on the local system.
  virtual bool LookupPrivilege(std::string_view name, Luid* luid) = 0;
  /// AdjustTokenPrivileges with no previous-state buffer. Returns nonzero
  /// with last error 1300 when the token does not hold the privilege.
  virtual bool AdjustPrivileges(HandleRef token, bool disable_all,
                                const TokenPrivileges& new_state) = 0;
  /// CloseHandle.
  virtual bool CloseHandle(HandleRef handle) = 0;
  /// GetLastError.
  virtual std::uint32_t LastError() const = 0;
};

}  // namespace sorbantilex
