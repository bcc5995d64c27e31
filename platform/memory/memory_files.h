#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tasks/files.h"

namespace sorbantilex {

/// An in-memory disk of Windows paths: folders, files with their attributes,
/// and files locked by another program. Paths compare without regard to
/// letter case and keep the spelling they were created with; "/" counts as
/// "\". It starts empty.
class MemoryFiles final : public Files {
 public:
  /// File attributes, with their Windows numbers.
  static constexpr std::uint32_t kReadOnly = 0x1;
  static constexpr std::uint32_t kHidden = 0x2;
  static constexpr std::uint32_t kSystem = 0x4;

  bool IsPlainFile(std::string_view path) const override;
  /// Raises 3 (path not found) for a missing folder, 5 (access denied) for a
  /// read-only file or a folder in the way, 32 (sharing violation) for a
  /// locked file; the old file is then unchanged. A replaced file keeps its
  /// attributes.
  void WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) override;

  /// Tests: creates the folder and the folders above it.
  void AddFolder(std::string_view path);
  /// Tests: puts a file (and its folders) on the disk.
  void AddFile(std::string_view path, std::string_view content, std::uint32_t attributes = 0);
  /// Tests: takes a file off the disk.
  void RemoveFile(std::string_view path);
  /// Tests: another program holds the file open without sharing.
  void Lock(std::string_view path);

  /// Tests: the file's content as text, or nullopt when there is no file.
  std::optional<std::string> Content(std::string_view path) const;
  std::optional<std::uint32_t> Attributes(std::string_view path) const;
  /// Tests: every file on the disk, by the spelling it was created with.
  std::vector<std::string> FilePaths() const;

 private:
  struct File {
    std::string path;
    std::vector<std::uint8_t> content;
    std::uint32_t attributes = 0;
    bool locked = false;
  };

  const File* Find(std::string_view path) const;

  std::map<std::string, File> files_;  // by normalised path
  std::set<std::string> folders_;      // normalised paths
};

}  // namespace sorbantilex
