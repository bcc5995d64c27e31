#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/offline/error.h"

namespace sorbantilex::offline {

/// A file descriptor, closed when the object goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();
  void Reset();
  /// Closes the descriptor and says whether the close succeeded (a write
  /// error may show only here).
  bool Close();

 private:
  int fd_ = -1;
};

/// An existing file opened by `OpenRegularFile`, or why it was not.
struct OpenedFile {
  UniqueFd fd;
  struct stat status {};
  /// Why it was not opened: kHiveMissing (nothing there), kNotRegularFile,
  /// kLinkOutside, or kReadFailed with the errno.
  std::optional<Error> refusal;
  explicit operator bool() const { return static_cast<bool>(fd); }
};

enum class OpenFor { kReading, kReadingAndWriting };

/// Opens an existing file of the Windows disk, which may be an attacker's:
/// - only a regular file: a folder, FIFO, socket or device is refused
///   without ever blocking on it;
/// - never through a link at its last component;
/// - when `within` is not empty, only when the folder that holds the file
///   lies inside `within` once every link on the way is resolved.
OpenedFile OpenRegularFile(const std::filesystem::path& path,
                           const std::filesystem::path& within = {},
                           OpenFor mode = OpenFor::kReading);

/// Creates a new file at `path` exclusively, never through a link. With
/// `replace_stale`, whatever stands at that name and is not a folder (a file
/// left by an interrupted run, or a link) is removed first, without
/// following it. Returns an invalid descriptor with errno set on failure.
UniqueFd CreateExclusive(const std::filesystem::path& path, mode_t mode, bool replace_stale);

/// A name through which a library that takes a file name opens the very
/// file `fd` is open on ("/proc/self/fd/N"), whatever now stands at the
/// file's own name.
std::string DescriptorPath(int fd);

/// Whether the folder holding `path`, with every link resolved, lies inside
/// `root` (links resolved too). False when either cannot be resolved.
bool FolderInside(const std::filesystem::path& path, const std::filesystem::path& root);

/// Reads exactly `size` bytes at `offset`; false on a short read or error.
bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset);
/// The whole file open on `fd` into `bytes`, when it holds at most `limit`
/// bytes; false with errno set when it cannot be read: EFBIG when it is
/// larger, 0 when it became shorter while it was read.
bool ReadWhole(int fd, std::uint64_t limit, std::vector<std::uint8_t>* bytes);
/// Writes all of `size` bytes at `offset`; false on error (errno set).
bool WriteAt(int fd, const void* buffer, std::size_t size, std::uint64_t offset);
/// Writes all of `size` bytes at the current position; false on error.
bool WriteAll(int fd, const void* buffer, std::size_t size);

}  // namespace sorbantilex::offline
