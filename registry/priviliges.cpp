#include "registry/priviliges.h"

#include <string>

namespace sorbantilex {
namespace {

constexpr std::uint32_t kTokenAccess = kTokenAdjustPrivileges | kTokenQuery;

void ShowFailure(MessageSink& ui, std::string_view call, std::uint32_t error) {
  std::string text(call);
  text += " failed with error code ";
  text += std::to_string(error);
  ui.ShowMessage(text);
}

}  // namespace

bool HabilitarPrivilegio(Token& token, MessageSink& ui, std::string_view privilegio) {
  return AjustarPrivilegio(token, ui, privilegio, true);
}

bool AjustarPrivilegio(Token& token, MessageSink& ui, std::string_view privilegio, bool habilitar) {
  const HandleRef process = token.CurrentProcess();
  UniqueToken handle(token);
  if (!token.OpenProcessToken(process, kTokenAccess, handle.out())) {
    const std::uint32_t error = token.LastError();
    *handle.out() = 0;  // nothing to close
    ShowFailure(ui, "OpenProcessToken", error);
    return false;
  }

  TokenPrivileges record;
  record.count = 1;
  if (!token.LookupPrivilege(privilegio, &record.luid)) {
    ShowFailure(ui, "LookupPrivilegeValue", token.LastError());
    return false;
  }
  record.attributes = habilitar ? kSePrivilegeEnabled : 0;

  const bool adjusted = token.AdjustPrivileges(handle.get(), false, record);
  const std::uint32_t error = token.LastError();
  if (!adjusted || error != 0) {
    ShowFailure(ui, "AdjustTokenPrivileges", error);
    return false;
  }
  return true;
}

}  // namespace sorbantilex
