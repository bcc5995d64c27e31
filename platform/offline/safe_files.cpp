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

std::string KindProblem(mode_t mode) {
  if (S_ISLNK(mode)) return "es un enlace simbólico, no el archivo mismo";
  if (S_ISDIR(mode)) return "es una carpeta, no un archivo";
  if (S_ISFIFO(mode)) return "es una tubería (FIFO), no un archivo normal";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "es un dispositivo, no un archivo normal";
  if (S_ISSOCK(mode)) return "es un socket, no un archivo normal";
  return "no es un archivo normal";
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
  OpenedFile opened;
  if (!within.empty() && !FolderInside(path, within)) {
    std::error_code error;
    if (!fs::exists(path.has_parent_path() ? path.parent_path() : fs::path("."), error)) {
      opened.error = ENOENT;
      opened.problem = "no existe";
    } else {
      opened.error = EXDEV;
      opened.problem =
          "está fuera de la instalación de Windows (un enlace de su ruta lleva a "
          "otro sitio)";
    }
    return opened;
  }
  // The kind is read before opening: opening a device or a FIFO may block or
  // act on it.
  struct stat before {};
  if (::lstat(path.c_str(), &before) != 0) {
    opened.error = errno;
    opened.problem = errno == ENOENT ? "no existe" : std::strerror(errno);
    return opened;
  }
  if (!S_ISREG(before.st_mode)) {
    opened.error = S_ISLNK(before.st_mode) ? ELOOP : EINVAL;
    opened.problem = KindProblem(before.st_mode);
    return opened;
  }
  const int access = mode == OpenFor::kReading ? O_RDONLY : O_RDWR;
  UniqueFd fd(::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    opened.error = errno;
    opened.problem = errno == ELOOP ? KindProblem(S_IFLNK) : std::strerror(errno);
    return opened;
  }
  // What was opened must be what was looked at: a regular file, the same one.
  if (::fstat(fd.get(), &opened.status) != 0 || !S_ISREG(opened.status.st_mode) ||
      opened.status.st_dev != before.st_dev || opened.status.st_ino != before.st_ino) {
    opened.error = EINVAL;
    opened.problem = KindProblem(opened.status.st_mode);
    return opened;
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
