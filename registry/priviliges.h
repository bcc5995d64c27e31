#pragma once

#include <string_view>

#include "registry/token.h"
#include "registry/message_sink.h"

namespace sorbantilex {

/// Switches one named privilege on in the own process token. Same as
/// `AjustarPrivilegio(..., true)`.
bool HabilitarPrivilegio(Token& token, MessageSink& ui, std::string_view privilegio);

/// Switches one named privilege on (`habilitar`) or off in the own process
/// token. True when the privilege was set as asked. A failing call is named
/// in one message box ("OpenProcessToken failed with error code 5") and
/// gives false; a token that does not hold the privilege is such a failure
/// (AdjustTokenPrivileges succeeds with last error 1300). Never raises.
bool AjustarPrivilegio(Token& token, MessageSink& ui, std::string_view privilegio, bool habilitar);

/// Closes a token handle when it goes out of scope.
class UniqueToken {
 public:
  explicit UniqueToken(Token& token) : token_(token) {}
  ~UniqueToken() {
    if (handle_ != 0) token_.CloseHandle(handle_);
  }
  UniqueToken(const UniqueToken&) = delete;
  UniqueToken& operator=(const UniqueToken&) = delete;

  HandleRef* out() { return &handle_; }
  HandleRef get() const { return handle_; }

 private:
  Token& token_;
  HandleRef handle_ = 0;
};

}  // namespace sorbantilex
