#include "platform/offline/safe_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sorbantilex::offline {

namespace fs = std::filesystem;

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UniqueFd::Close() { return fd_ < 0 || ::close(Release()) == 0; }

namespace {

// What stands at a name that is no regular file, for `Error::detail`.
std::string KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "symlink";
  if (S_ISDIR(mode)) return "directory";
  if (S_ISFIFO(mode)) return "fifo";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "device";
  if (S_ISSOCK(mode)) return "socket";
  return {};
}

OpenedFile Refused(const fs::path& path, ErrorKind kind, int error_number, std::string detail) {
  OpenedFile refused;
  refused.refusal.emplace(kind, path, error_number, std::move(detail));
  return refused;
}

}  // namespace

bool FolderInside(const fs::path& path, const fs::path& root) {
  std::error_code error;
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const fs::path real_folder = fs::canonical(folder, error);
  if (error) return false;
  const fs::path real_root = fs::canonical(root, error);
  if (error) return false;
  auto it = real_folder.begin();
  for (const auto& part : real_root) {
    if (part.empty()) continue;  // a trailing separator
    if (it == real_folder.end() || *it != part) return false;
    ++it;
  }
  return true;
}

OpenedFile OpenRegularFile(const fs::path& path, const fs::path& within, OpenFor mode) {
  if (!within.empty() && !FolderInside(path, within)) {
    std::error_code error;
    if (!fs::exists(path.has_parent_path() ? path.parent_path() : fs::path("."), error)) {
      return Refused(path, ErrorKind::kHiveMissing, ENOENT, {});
    }
    return Refused(path, ErrorKind::kLinkOutside, EXDEV, {});
  }
  // The kind is read before opening: opening a device or a FIFO may block or
  // act on it.
  struct stat before {};
  if (::lstat(path.c_str(), &before) != 0) {
    const int error = errno;
    return Refused(path, error == ENOENT ? ErrorKind::kHiveMissing : ErrorKind::kReadFailed, error,
                   {});
  }
  if (!S_ISREG(before.st_mode)) {
    return Refused(path, ErrorKind::kNotRegularFile, S_ISLNK(before.st_mode) ? ELOOP : EINVAL,
                   KindOf(before.st_mode));
  }
  const int access = mode == OpenFor::kReading ? O_RDONLY : O_RDWR;
  UniqueFd fd(::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    if (error == ELOOP) return Refused(path, ErrorKind::kNotRegularFile, error, KindOf(S_IFLNK));
    return Refused(path, ErrorKind::kReadFailed, error, {});
  }
  // What was opened must be what was looked at: a regular file, the same one.
  OpenedFile opened;
  if (::fstat(fd.get(), &opened.status) != 0 || !S_ISREG(opened.status.st_mode) ||
      opened.status.st_dev != before.st_dev || opened.status.st_ino != before.st_ino) {
    return Refused(path, ErrorKind::kNotRegularFile, EINVAL, KindOf(opened.status.st_mode));
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  opened.fd = std::move(fd);
  return opened;
}

UniqueFd CreateExclusive(const fs::path& path, mode_t mode, bool replace_stale) {
  if (replace_stale) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) ::unlink(path.c_str());
  }
  return UniqueFd(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd, at, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool ReadWhole(int fd, std::uint64_t limit, std::vector<std::uint8_t>* bytes) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  if (static_cast<std::uint64_t>(status.st_size) > limit) {
    errno = EFBIG;
    return false;
  }
  bytes->resize(static_cast<std::size_t>(status.st_size));
  errno = 0;
  return bytes->empty() || ReadAt(fd, bytes->data(), bytes->size(), 0);
}

bool WriteAt(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const auto* at = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, at, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    at += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* buffer, std::size_t size) {
  const auto* at = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace sorbantilex::offline
