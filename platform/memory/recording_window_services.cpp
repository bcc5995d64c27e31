#include "platform/memory/recording_window_services.h"

#include <algorithm>

namespace sorbantilex {

void RecordingWindowServices::ShowMessage(std::string_view text, std::string_view title) {
  events_.push_back({Event::Kind::kMessage, std::string(text), std::string(title)});
}

void RecordingWindowServices::YieldToMessages() {
  events_.push_back({Event::Kind::kYield, {}, {}});
  if (on_yield) on_yield();
}

std::vector<std::string> RecordingWindowServices::Messages() const {
  std::vector<std::string> texts;
  for (const auto& event : events_) {
    if (event.kind == Event::Kind::kMessage) texts.push_back(event.text);
  }
  return texts;
}

int RecordingWindowServices::Yields() const {
  return static_cast<int>(std::ranges::count(events_, Event::Kind::kYield, &Event::kind));
}

}  // namespace sorbantilex
