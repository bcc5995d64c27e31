#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace sorbantilex::offline {

/// The undo file's name for a run started at `when` (local time):
/// "Sorbantilex-deshacer-YYYYMMDD-HHMMSS.reg" for the machine's keys;
/// with a `profile`, "Sorbantilex-deshacer-YYYYMMDD-HHMMSS-PROFILE.reg",
/// the profile's name made safe for a file name (see `SafeNamePart`).
std::string UndoFileName(std::time_t when, std::string_view profile = {});

/// `name` as part of a file name on Linux and Windows alike: control
/// characters, path separators, the characters Windows refuses in names
/// (`<>:"|?*`) and bytes that are no valid UTF-8 become "_", a leading dot
/// too; at most 64 bytes, cut at a character's boundary; "perfil" when
/// nothing is left.
std::string SafeNamePart(std::string_view name);

/// Writes the undo registry file into `folder` (the hive backups' folder)
/// under `UndoFileName`, with "-2", "-3"... before ".reg" when that name is
/// taken. The file is new: created exclusively, never through a link or
/// onto anything that is there, and flushed to disk. Gives its path; raises
/// `Error` (kUndoFileNotWritten, nothing left behind) when it cannot be
/// written.
std::filesystem::path WriteUndoFile(const std::filesystem::path& folder, std::time_t when,
                                    std::span<const std::uint8_t> content,
                                    std::string_view profile = {});

}  // namespace sorbantilex::offline
