#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <span>
#include <string>

namespace sorbantilex::offline {

/// The undo file's name for a run started at `when` (local time):
/// "Sorbantilex-deshacer-YYYYMMDD-HHMMSS.reg".
std::string UndoFileName(std::time_t when);

/// Writes the undo registry file into `folder` (the hive backups' folder)
/// under `UndoFileName`, with "-2", "-3"... before ".reg" when that name is
/// taken. The file is new: created exclusively, never through a link or
/// onto anything that is there, and flushed to disk. Gives its path; raises
/// `Error` (kUndoFileNotWritten, nothing left behind) when it cannot be
/// written.
std::filesystem::path WriteUndoFile(const std::filesystem::path& folder, std::time_t when,
                                    std::span<const std::uint8_t> content);

}  // namespace sorbantilex::offline
