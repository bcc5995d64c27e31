#pragma once

#include <string_view>

namespace sorbantilex {

/// Where the program's messages to the user go.
class MessageSink {
 public:
  MessageSink() = default;
  virtual ~MessageSink() = default;
  MessageSink(const MessageSink&) = delete;
  MessageSink& operator=(const MessageSink&) = delete;

  /// A modal message box with an OK button only and no icon; returns when
  /// the user has closed it. An empty title shows the application title,
  /// "Sorbantilex".
  virtual void ShowMessage(std::string_view text, std::string_view title = {}) = 0;
};

}  // namespace sorbantilex
