#include "platform/memory/memory_token.h"

#include <array>
#include <cctype>
#include <optional>

#include "registry/registry_api.h"

namespace sorbantilex {
namespace {

struct KnownPrivilege {
  std::string_view name;
  std::uint32_t luid;
};

// The privileges every Windows system knows, with their well-known LUIDs.
constexpr std::array kKnownPrivileges{
    KnownPrivilege{"SeCreateTokenPrivilege", 2},
    KnownPrivilege{"SeAssignPrimaryTokenPrivilege", 3},
    KnownPrivilege{"SeLockMemoryPrivilege", 4},
    KnownPrivilege{"SeIncreaseQuotaPrivilege", 5},
    KnownPrivilege{"SeMachineAccountPrivilege", 6},
    KnownPrivilege{"SeTcbPrivilege", 7},
    KnownPrivilege{"SeSecurityPrivilege", 8},
    KnownPrivilege{"SeTakeOwnershipPrivilege", 9},
    KnownPrivilege{"SeLoadDriverPrivilege", 10},
    KnownPrivilege{"SeSystemProfilePrivilege", 11},
    KnownPrivilege{"SeSystemtimePrivilege", 12},
    KnownPrivilege{"SeProfileSingleProcessPrivilege", 13},
    KnownPrivilege{"SeIncreaseBasePriorityPrivilege", 14},
    KnownPrivilege{"SeCreatePagefilePrivilege", 15},
    KnownPrivilege{"SeCreatePermanentPrivilege", 16},
    KnownPrivilege{"SeBackupPrivilege", 17},
    KnownPrivilege{"SeRestorePrivilege", 18},
    KnownPrivilege{"SeShutdownPrivilege", 19},
    KnownPrivilege{"SeDebugPrivilege", 20},
    KnownPrivilege{"SeAuditPrivilege", 21},
    KnownPrivilege{"SeSystemEnvironmentPrivilege", 22},
    KnownPrivilege{"SeChangeNotifyPrivilege", 23},
    KnownPrivilege{"SeRemoteShutdownPrivilege", 24},
    KnownPrivilege{"SeUndockPrivilege", 25},
    KnownPrivilege{"SeSyncAgentPrivilege", 26},
    KnownPrivilege{"SeEnableDelegationPrivilege", 27},
    KnownPrivilege{"SeManageVolumePrivilege", 28},
    KnownPrivilege{"SeImpersonatePrivilege", 29},
    KnownPrivilege{"SeCreateGlobalPrivilege", 30},
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::optional<std::uint32_t> LuidOf(std::string_view name) {
  for (const KnownPrivilege& known : kKnownPrivileges) {
    if (SameName(known.name, name)) return known.luid;
  }
  return std::nullopt;
}

}  // namespace

MemoryToken::MemoryToken(std::vector<std::string> held) {
  for (const std::string& name : held) {
    if (auto luid = LuidOf(name)) held_[*luid] = false;
  }
}

bool MemoryToken::Fail(std::uint32_t error) {
  last_error_ = error;
  return false;
}

HandleRef MemoryToken::CurrentProcess() {
  calls_.emplace_back("GetCurrentProcess");
  return kProcessHandle;
}

bool MemoryToken::OpenProcessToken(HandleRef process, std::uint32_t access, HandleRef* token) {
  calls_.emplace_back("OpenProcessToken");
  *token = 0;
  if (open_error_ != 0) return Fail(open_error_);
  if (process != kProcessHandle) return Fail(kErrorInvalidHandle);
  *token = next_handle_;
  next_handle_ += 4;
  handles_[*token] = access;
  last_error_ = 0;
  return true;
}

bool MemoryToken::LookupPrivilege(std::string_view name, Luid* luid) {
  calls_.emplace_back("LookupPrivilegeValue");
  const auto found = LuidOf(name);
  if (!found) return Fail(kErrorNoSuchPrivilege);
  luid->low = *found;
  luid->high = 0;
  last_error_ = 0;
  return true;
}

bool MemoryToken::AdjustPrivileges(HandleRef token, bool disable_all,
                                   const TokenPrivileges& new_state) {
  calls_.emplace_back("AdjustTokenPrivileges");
  const auto handle = handles_.find(token);
  if (handle == handles_.end()) return Fail(kErrorInvalidHandle);
  if ((handle->second & kTokenAdjustPrivileges) == 0) return Fail(kErrorAccessDenied);
  if (disable_all) {
    for (auto& [luid, enabled] : held_) enabled = false;
    last_error_ = 0;
    return true;
  }
  if (new_state.count != 1) return Fail(kErrorInvalidParameter);
  const auto held = new_state.luid.high == 0 ? held_.find(new_state.luid.low) : held_.end();
  if (held == held_.end()) {
    last_error_ = kErrorNotAllAssigned;
    return true;
  }
  held->second = (new_state.attributes & kSePrivilegeEnabled) != 0;
  last_error_ = 0;
  return true;
}

bool MemoryToken::CloseHandle(HandleRef handle) {
  calls_.emplace_back("CloseHandle");
  if (handles_.erase(handle) == 0) return Fail(kErrorInvalidHandle);
  last_error_ = 0;
  return true;
}

void MemoryToken::Hold(std::string_view name, bool held) {
  const auto luid = LuidOf(name);
  if (!luid) return;
  if (held) {
    held_.try_emplace(*luid, false);
  } else {
    held_.erase(*luid);
  }
}

bool MemoryToken::Enabled(std::string_view name) const {
  const auto luid = LuidOf(name);
  if (!luid) return false;
  const auto held = held_.find(*luid);
  return held != held_.end() && held->second;
}

}  // namespace sorbantilex
