#pragma once

#include <string_view>

namespace sorbantilex {

/// The window-system services the repairs use. The application extends it
/// with the rest of what its windows need.
class WindowServices {
 public:
  WindowServices() = default;
  virtual ~WindowServices() = default;
  WindowServices(const WindowServices&) = delete;
  WindowServices& operator=(const WindowServices&) = delete;

  /// A modal message box with an OK button only and no icon; returns when
  /// the user has closed it. An empty title shows the application title,
  /// "Sorbantilex".
  virtual void ShowMessage(std::string_view text, std::string_view title = {}) = 0;
  /// Dispatches every window message pending for the user-interface thread
  /// (so handlers of both windows may run), then returns.
  virtual void YieldToMessages() = 0;
};

}  // namespace sorbantilex
