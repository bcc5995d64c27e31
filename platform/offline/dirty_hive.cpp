#include "platform/offline/dirty_hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/offline/hive.h"
#include "platform/offline/log_recovery.h"
#include "platform/offline/regf.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNothingChanged = " No se ha modificado nada.";
constexpr std::uint64_t kLargestHive = std::uint64_t{5} << 30;  // 4 GiB of bins and more
constexpr std::uint64_t kLargestLog = std::uint64_t{1} << 30;

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool ReadAt(int fd, std::uint8_t* buffer, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

// Opens an existing file for reading: only a regular file, never through a
// link, never blocking on a FIFO. Returns why not, in Spanish, or empty.
std::string OpenRegular(const fs::path& path, Fd& fd, struct stat& status) {
  fd.Reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    return errno == ELOOP ? "es un enlace, no un archivo normal" : std::strerror(errno);
  }
  if (::fstat(fd.get(), &status) != 0) return std::strerror(errno);
  if (!S_ISREG(status.st_mode)) return "no es un archivo normal";
  return {};
}

[[noreturn]] void RefuseFile(const fs::path& path, const std::string& why) {
  throw OfflineRefusal("No se puede leer " + Quoted(path) + ": " + why + "." + kNothingChanged);
}

// Reads a whole regular file.
std::vector<std::uint8_t> ReadWhole(const fs::path& path, std::uint64_t limit) {
  Fd fd(-1);
  struct stat status {};
  if (const auto why = OpenRegular(path, fd, status); !why.empty()) RefuseFile(path, why);
  if (static_cast<std::uint64_t>(status.st_size) > limit) RefuseFile(path, "es demasiado grande");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
  if (!ReadAt(fd.get(), bytes.data(), bytes.size(), 0)) {
    RefuseFile(path, errno != 0 ? std::strerror(errno) : "el archivo se acortó al leerlo");
  }
  return bytes;
}

// The entry of `folder` named `name` in any letter case.
std::optional<fs::path> FindNamed(const fs::path& folder, const std::string& name) {
  std::error_code error;
  std::optional<fs::path> found;
  const std::string upper = UpperName(name);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (UpperName(it->path().filename().string()) != upper) continue;
    if (found) {
      throw OfflineRefusal(
          "Hay junto al archivo de registro dos archivos que solo se distinguen "
          "por las mayúsculas, " +
          Quoted(*found) + " y " + Quoted(it->path()) +
          ", y no se puede saber cuál usaría Windows." + kNothingChanged);
    }
    found = it->path();
  }
  if (error) RefuseFile(folder, error.message());
  return found;
}

}  // namespace

RecoveredHive::RecoveredHive(RecoveredHive&& other) noexcept
    : memory_(std::exchange(other.memory_, -1)),
      logs_(std::move(other.logs_)),
      notice_(std::move(other.notice_)),
      sequence_(other.sequence_) {}

RecoveredHive::~RecoveredHive() { Release(); }

void RecoveredHive::Release() {
  if (memory_ >= 0) ::close(std::exchange(memory_, -1));
}

std::string RecoveredHive::OpenPath() const { return "/proc/self/fd/" + std::to_string(memory_); }

std::optional<RecoveredHive> RecoverDirtyHive(const fs::path& hive) {
  std::vector<std::uint8_t> primary;
  {
    Fd fd(-1);
    struct stat status {};
    if (!OpenRegular(hive, fd, status).empty()) return std::nullopt;  // refused when opened
    std::vector<std::uint8_t> head(512);
    if (ReadAt(fd.get(), head.data(), head.size(), 0) && !NeedsRecovery(head)) return std::nullopt;
  }

  const fs::path folder = hive.has_parent_path() ? hive.parent_path() : fs::path(".");
  const std::string name = hive.filename().string();
  HiveLogs logs;
  RecoveredHive recovered;
  const std::pair<const char*, std::optional<TransactionLog>*> slots[] = {
      {".LOG1", &logs.log1}, {".LOG2", &logs.log2}, {".LOG", &logs.log}};
  for (const auto& [suffix, slot] : slots) {
    const auto path = FindNamed(folder, name + suffix);
    if (!path) continue;
    *slot = TransactionLog{path->filename().string(), ReadWhole(*path, kLargestLog)};
    recovered.logs_.push_back(*path);
  }
  primary = ReadWhole(hive, kLargestHive);
  // A file that is no hive at all, with no log beside it, is refused as such
  // when it is opened.
  if (recovered.logs_.empty() &&
      (primary.size() < 4 || std::memcmp(primary.data(), "regf", 4) != 0 ||
       !BaseBlockChecksumOk(primary))) {
    return std::nullopt;
  }

  Recovery recovery;
  try {
    recovery = RecoverHive(std::move(primary), logs);
  } catch (const RecoveryRefusal& refusal) {
    throw OfflineRefusal(
        "Windows no terminó de guardar el archivo de registro " + Quoted(hive) +
        " y no se puede completar como lo haría Windows al arrancar: " + refusal.what() +
        " Arranque Windows para que lo complete él mismo, o restaure una copia "
        "de seguridad del archivo." +
        kNothingChanged);
  }
  recovered.notice_ = DescribeRecovery(hive.string(), recovery);
  recovered.sequence_ = recovery.sequence;

  Fd memory(::memfd_create("sorbantilex-hive", MFD_CLOEXEC));
  bool written = memory.get() >= 0;
  for (std::size_t done = 0; written && done < recovery.image.size();) {
    const ssize_t n =
        ::write(memory.get(), recovery.image.data() + done, recovery.image.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  if (!written) {
    throw OfflineRefusal("No se pudo preparar en memoria la recuperación de " + Quoted(hive) +
                         ": " + std::strerror(errno) + "." + kNothingChanged);
  }
  recovered.memory_ = memory.Release();
  return recovered;
}

bool MarkFileClean(const fs::path& file, std::uint32_t sequence) {
  Fd fd(::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  std::vector<std::uint8_t> head(512);
  if (fd.get() < 0 || !ReadAt(fd.get(), head.data(), head.size(), 0)) return false;
  MarkClean(head, sequence);
  for (std::size_t done = 0; done < head.size();) {
    const ssize_t n =
        ::pwrite(fd.get(), head.data() + done, head.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd.Release()) == 0;
}

}  // namespace sorbantilex::offline
