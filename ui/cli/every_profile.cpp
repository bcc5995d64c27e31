#include "ui/cli/every_profile.h"

namespace sorbantilex::cli {

void RepeatForOtherProfiles(offline::Session& session, const Step& step,
                            const std::function<void()>& again) {
  if (!step.per_user) return;
  if (step.kind == StepKind::kStartPageDialog) {
    const auto& sections = session.journal().sections();
    if (sections.empty() || sections.back().changes.empty()) return;
  }
  session.RepeatForOtherProfiles(step.caption, again);
}

}  // namespace sorbantilex::cli
