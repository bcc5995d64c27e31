#pragma once

#include "registry/message_sink.h"

namespace sorbantilex {

/// The window-system services the repairs use: messages, and a yield. The
/// application extends it with the rest of what its windows need.
class WindowServices : public MessageSink {
 public:
  /// Dispatches every window message pending for the user-interface thread
  /// (so handlers of both windows may run), then returns.
  virtual void YieldToMessages() = 0;
};

}  // namespace sorbantilex
