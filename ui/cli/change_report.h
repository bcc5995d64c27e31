#pragma once

#include <ostream>
#include <vector>

#include "platform/offline/hive_registry.h"
#include "platform/offline/offline_platform.h"
#include "ui/cli/change_log.h"

namespace sorbantilex::cli {

/// What a run did, as the command line reports it when the program ends.
struct RunOutcome {
  const ChangeLog& log;
  const std::vector<offline::FileChange>& files;
  const std::vector<std::string>& notices;  // the store's
  const offline::CommitReport& commit;
  bool dry_run = false;
};

/// Prints to `out` the changes section by section (the files written go with
/// the hosts repair; "sin cambios" where a section changed nothing), the
/// store's notices and the backups kept; and to `err` every error of the
/// commit. Returns false when there was one.
bool PrintChangeReport(const RunOutcome& run, std::ostream& out, std::ostream& err);

}  // namespace sorbantilex::cli
