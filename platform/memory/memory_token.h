#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registry/token.h"

namespace sorbantilex {

/// The own process token, in memory, with the semantics of Windows:
/// - privilege names are looked up case-insensitively among the system's
///   known privileges (unknown: 1313);
/// - the token holds some privileges, each enabled or not; adjusting one it
///   does not hold succeeds with last error 1300 and changes nothing;
/// - adjusting needs a handle opened with TOKEN_ADJUST_PRIVILEGES (5);
/// - a handle that is not open answers 6.
/// Every call sets the last error, 0 on success.
class MemoryToken final : public Token {
 public:
  /// A token that holds `held`, all disabled.
  explicit MemoryToken(std::vector<std::string> held = {});

  HandleRef CurrentProcess() override;
  bool OpenProcessToken(HandleRef process, std::uint32_t access, HandleRef* token) override;
  bool LookupPrivilege(std::string_view name, Luid* luid) override;
  bool AdjustPrivileges(HandleRef token, bool disable_all,
                        const TokenPrivileges& new_state) override;
  bool CloseHandle(HandleRef handle) override;
  std::uint32_t LastError() const override { return last_error_; }

  /// Tests: give the token the privilege (disabled) or take it away.
  void Hold(std::string_view name, bool held);
  /// Tests: make OpenProcessToken fail with this error (0: succeed again).
  void FailOpen(std::uint32_t error) { open_error_ = error; }
  /// Tests: whether the token holds the privilege and has it enabled.
  bool Enabled(std::string_view name) const;
  /// Tests: the calls made so far, by name ("OpenProcessToken", ...).
  const std::vector<std::string>& calls() const { return calls_; }
  /// Tests: token handles open now.
  std::size_t OpenHandles() const { return handles_.size(); }

 private:
  static constexpr HandleRef kProcessHandle = static_cast<HandleRef>(-1);

  bool Fail(std::uint32_t error);

  std::map<std::uint32_t, bool> held_;          // LUID low part -> enabled
  std::map<HandleRef, std::uint32_t> handles_;  // handle -> access
  HandleRef next_handle_ = 0x40;
  std::uint32_t open_error_ = 0;
  std::uint32_t last_error_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace sorbantilex
