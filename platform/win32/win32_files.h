#pragma once

#include "tasks/files.h"

namespace sorbantilex {

/// The file operations of the repairs on the running Windows.
///
/// WriteReplacing first copies an existing file to
/// "<file>.sorbantilex-<date>-<time>.bak" beside it ("-2", "-3"... when that
/// name is taken), then writes "<file>.<process id>.tmp" in the file's own folder,
/// flushes it to disk and moves it over the file with MoveFileEx
/// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). A read-only target
/// is refused before anything is written (Windows would refuse the move
/// too); on any failure the temporary file and the backup are removed, the
/// old file stays, and `Failure` carries the Windows error code.
class Win32Files final : public Files {
 public:
  bool IsPlainFile(std::string_view path) const override;
  void WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) override;
};

}  // namespace sorbantilex
