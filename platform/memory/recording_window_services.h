#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tasks/window_services.h"

namespace sorbantilex {

/// Window services that record what the repairs asked of them: each message
/// box (closed at once, as if the user pressed OK) and each yield, in order.
class RecordingWindowServices : public WindowServices {
 public:
  struct Event {
    enum class Kind { kMessage, kYield };
    Kind kind = Kind::kYield;
    std::string text;   // messages only
    std::string title;  // as given: empty for the application title
    friend bool operator==(const Event&, const Event&) = default;
  };

  void ShowMessage(std::string_view text, std::string_view title = {}) override;
  void YieldToMessages() override;

  const std::vector<Event>& events() const { return events_; }
  /// The texts of the messages shown, in order.
  std::vector<std::string> Messages() const;
  int Yields() const;

  /// Runs at each yield, after it is recorded: what a handler would do then.
  std::function<void()> on_yield;

 private:
  std::vector<Event> events_;
};

}  // namespace sorbantilex
