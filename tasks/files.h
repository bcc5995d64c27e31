#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace sorbantilex {

/// The file operations of the repairs. Paths are Windows paths
/// ("C:\WINDOWS\system32\drivers\etc\hosts") in UTF-8; a platform that is
/// not Windows maps them onto what stands for the system's disk.
class Files {
 public:
  Files() = default;
  virtual ~Files() = default;
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;

  /// True when a plain file stands at `path`. A folder, or a file carrying
  /// the hidden or system attribute, counts as absent.
  virtual bool IsPlainFile(std::string_view path) const = 0;

  /// Replaces the file's whole content, or creates the file when it is
  /// missing. The content goes to a temporary file in the same folder, is
  /// flushed, and is then moved over the old file, so that a failure never
  /// leaves the system without its old file. A read-only or locked file, a
  /// missing folder or any other failure raises `Failure` (the Windows error
  /// code and a Spanish description naming the file), with the old file
  /// unchanged and no temporary file left behind.
  virtual void WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) = 0;
};

}  // namespace sorbantilex
