#pragma once

#include "registry/token.h"

namespace sorbantilex {

/// The process-token functions of the running Windows. `LastError` gives
/// the last error code of the most recent call made through this object.
class Win32Token final : public Token {
 public:
  HandleRef CurrentProcess() override;
  bool OpenProcessToken(HandleRef process, std::uint32_t access, HandleRef* token) override;
  bool LookupPrivilege(std::string_view name, Luid* luid) override;
  bool AdjustPrivileges(HandleRef token, bool disable_all,
                        const TokenPrivileges& new_state) override;
  bool CloseHandle(HandleRef handle) override;
  std::uint32_t LastError() const override { return last_error_; }

 private:
  std::uint32_t last_error_ = 0;
};

}  // namespace sorbantilex
