#include "platform/offline/installation/undo_file.h"

#include <unistd.h>

#include <cerrno>

#include "platform/offline/error.h"
#include "platform/offline/safe_files.h"
#include "registry/utf8.h"

namespace sorbantilex::offline {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxAttempts = 100;

[[noreturn]] void Raise(int error, const fs::path& path) {
  throw Error(ErrorKind::kUndoFileNotWritten, path, error);
}

}  // namespace

std::string SafeNamePart(std::string_view name) {
  constexpr std::size_t kMaxBytes = 64;
  std::string safe;
  for (std::size_t at = 0; at < name.size();) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(name, at, &code);
    std::string piece;
    if (length == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      piece = "_";
      at += 1;
    } else {
      const bool refused =
          code < 0x20 || code == 0x7F ||
          std::string_view("/\\<>:\"|?*").find(static_cast<char>(code)) != std::string_view::npos ||
          (safe.empty() && code == '.');
      piece = refused && code < 0x80 ? std::string("_") : std::string(name.substr(at, length));
      at += length;
    }
    if (safe.size() + piece.size() > kMaxBytes) break;
    safe += piece;
  }
  return safe.empty() ? std::string("perfil") : safe;
}

std::string UndoFileName(std::time_t when, std::string_view profile) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name = std::string("Sorbantilex-deshacer-") + stamp;
  if (!profile.empty()) name += "-" + SafeNamePart(profile);
  return name + ".reg";
}

fs::path WriteUndoFile(const fs::path& folder, std::time_t when,
                       std::span<const std::uint8_t> content, std::string_view profile) {
  const std::string name = UndoFileName(when, profile);
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
