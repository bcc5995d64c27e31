#include "platform/offline/undo_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace sorbantilex::offline {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxAttempts = 100;

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

[[noreturn]] void Raise(int error, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), path.string());
}

}  // namespace

std::string UndoFileName(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string("Sorbantilex-deshacer-") + stamp + ".reg";
}

fs::path WriteUndoFile(const fs::path& folder, std::time_t when,
                       std::span<const std::uint8_t> content) {
  const std::string name = UndoFileName(when);
  const std::string stem = name.substr(0, name.size() - 4);
  for (int n = 1; n <= kMaxAttempts; ++n) {
    const fs::path path = folder / (n == 1 ? name : stem + "-" + std::to_string(n) + ".reg");
    // O_EXCL refuses anything already there, a link included (dangling or
    // not); O_NOFOLLOW and O_NONBLOCK keep a link or a FIFO from being
    // opened at all.
    UniqueFd file(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (file.get() < 0) {
      if (errno == EEXIST) continue;
      Raise(errno, path);
    }
    std::size_t written = 0;
    int error = 0;
    while (written < content.size()) {
      const ssize_t n_written =
          ::write(file.get(), content.data() + written, content.size() - written);
      if (n_written < 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
      }
      written += static_cast<std::size_t>(n_written);
    }
    if (error == 0 && ::fsync(file.get()) != 0) error = errno;
    if (error == 0 && file.Close() != 0) error = errno;
    if (error != 0) {
      ::unlink(path.c_str());
      Raise(error, path);
    }
    return path;
  }
  Raise(EEXIST, folder / name);
}

}  // namespace sorbantilex::offline
