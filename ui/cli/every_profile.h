#pragma once

#include <functional>

#include "app/task_catalog.h"
#include "platform/offline/session/session.h"

namespace sorbantilex::cli {

/// The end of a step in a run over several profiles (the task runner's
/// `finished` hook): a step that changes HKEY_CURRENT_USER runs `again`
/// once for each further profile, with HKEY_CURRENT_USER switched to it and
/// a section of its own in the journal. The home-page dialog's answer is
/// applied again only when it was applied (a cancelled dialog changed
/// nothing). Every repair may run twice: what the first run repaired is not
/// touched again.
void RepeatForOtherProfiles(offline::Session& session, const Step& step,
                            const std::function<void()>& again);

}  // namespace sorbantilex::cli
