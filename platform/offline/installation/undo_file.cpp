#include "platform/offline/installation/undo_file.h"

#include <unistd.h>

#include <cerrno>

#include "platform/offline/error.h"
#include "platform/offline/safe_files.h"

namespace sorbantilex::offline {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxAttempts = 100;

[[noreturn]] void Raise(int error, const fs::path& path) {
  throw Error(ErrorKind::kUndoFileNotWritten, path, error);
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
    // Exclusive creation refuses anything already at the name, a link (even
    // a dangling one) or a FIFO included, without opening it.
    UniqueFd file = CreateExclusive(path, 0644, /*replace_stale=*/false);
    if (!file) {
      if (errno == EEXIST) continue;
      Raise(errno, path);
    }
    int error = 0;
    if (!WriteAll(file.get(), content.data(), content.size())) error = errno;
    if (error == 0 && ::fsync(file.get()) != 0) error = errno;
    if (error == 0 && !file.Close()) error = errno;
    if (error != 0) {
      ::unlink(path.c_str());
      Raise(error, path);
    }
    return path;
  }
  Raise(EEXIST, folder / name);
}

}  // namespace sorbantilex::offline
