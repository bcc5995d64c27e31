#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sorbantilex {

namespace win32 {

/// The local date and time as "YYYYMMDD-HHMMSS", for the names of the files
/// a run leaves (the undo file, backups).
std::string LocalStamp();

}  // namespace win32

/// Writes the run's undo registry file as
/// "Sorbantilex-deshacer-YYYYMMDD-HHMMSS.reg" ("-2", "-3"... when taken)
/// into the first of `folders` that takes it: a new file (never written
/// onto anything already there), flushed to disk. Gives its path, or an
/// empty text when no folder took it.
std::wstring WriteUndoFileInto(const std::vector<std::wstring>& folders,
                               std::span<const std::uint8_t> content);

/// `WriteUndoFileInto` the program's own folder (a USB stick, the Downloads
/// folder), else the user's temporary folder.
std::wstring WriteUndoFile(std::span<const std::uint8_t> content);

/// Puts `content` in place of the undo file at `path`, which this run wrote:
/// through a new file beside it ("NAME.tmp") that is flushed and then
/// renamed over it, so that the file is at every moment either the old one
/// or the new one, whole. False, with the old file left as it was, when it
/// cannot.
bool RewriteUndoFile(const std::wstring& path, std::span<const std::uint8_t> content);

}  // namespace sorbantilex
