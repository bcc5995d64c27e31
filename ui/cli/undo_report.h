#pragma once

#include <filesystem>
#include <ostream>

#include "platform/offline/hive_registry.h"
#include "registry/undo_recorder.h"

namespace sorbantilex::cli {

/// After the commit: when a hive was written and the run changed something
/// a registry file restores, writes the undo file into `folder` (beside the
/// hive backups) and prints where; when it cannot be written, prints that
/// and why. The run stands either way.
void ReportUndoFile(std::ostream& out, const UndoRecorder& undo,
                    const offline::CommitReport& report, const std::filesystem::path& folder);

}  // namespace sorbantilex::cli
