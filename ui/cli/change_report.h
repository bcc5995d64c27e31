#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/session/session.h"
#include "registry/journal.h"

namespace sorbantilex::cli {

/// Prints to `out` what a session did when the program ends: the changes
/// step by step (the files written go with the hosts repair; "sin cambios"
/// where a step changed nothing; over several profiles, the machine's
/// changes of a step, then each profile's changes of HKEY_CURRENT_USER), the
/// store's notices, the backups kept and where the undo files are (or why
/// one could not be written); and to `err`
/// every error of the commit. Returns false when there was one.
bool PrintChangeReport(const offline::Session& session, const offline::SessionResult& result,
                       std::ostream& out, std::ostream& err);

/// The report lines of one step: keys deleted (a deleted subtree once),
/// keys created, values written with type and data, values deleted.
std::vector<std::string> DescribeChanges(const std::vector<JournalEntry>& changes);

/// Text with its zeros, line ends and quotes written as escapes.
std::string Printable(std::string_view text);

/// A value's type and data as text: REG_SZ "Explorer.exe", REG_DWORD 0x00000001 (1).
std::string DescribeValue(std::uint32_t type, const std::vector<std::uint8_t>& data);

}  // namespace sorbantilex::cli
