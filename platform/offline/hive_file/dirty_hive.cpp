#include "platform/offline/hive_file/dirty_hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/offline/hive_file/hive.h"
#include "platform/offline/hive_file/log_recovery.h"
#include "platform/offline/paths.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/safe_files.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNothingChanged = " No se ha modificado nada.";
constexpr std::uint64_t kLargestHive = std::uint64_t{5} << 30;  // 4 GiB of bins and more
constexpr std::uint64_t kLargestLog = std::uint64_t{1} << 30;

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

[[noreturn]] void RefuseFile(const fs::path& path, const std::string& why) {
  throw OfflineRefusal("No se puede leer " + Quoted(path) + ": " + why + "." + kNothingChanged);
}

// The whole file open on `fd`.
std::vector<std::uint8_t> ReadWhole(int fd, const fs::path& path, std::uint64_t limit) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) RefuseFile(path, std::strerror(errno));
  if (static_cast<std::uint64_t>(status.st_size) > limit) RefuseFile(path, "es demasiado grande");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
  if (!bytes.empty() && !ReadAt(fd, bytes.data(), bytes.size(), 0)) {
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
          "Hay junto al archivo de registro dos archivos que solo se distinguen por las "
          "mayúsculas, " +
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
      size_(other.size_),
      logs_(std::move(other.logs_)),
      notice_(std::move(other.notice_)),
      sequence_(other.sequence_) {}

RecoveredHive::~RecoveredHive() { Release(); }

void RecoveredHive::Release() {
  if (memory_ >= 0) ::close(std::exchange(memory_, -1));
}

std::optional<RecoveredHive> RecoverDirtyHive(int fd, const fs::path& hive,
                                              const fs::path& within) {
  {
    std::vector<std::uint8_t> head(512);
    if (ReadAt(fd, head.data(), head.size(), 0) && !NeedsRecovery(head)) return std::nullopt;
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
    const OpenedFile file = OpenRegularFile(*path, within);
    if (!file) RefuseFile(*path, file.problem);
    *slot = TransactionLog{path->filename().string(), ReadWhole(file.fd.get(), *path, kLargestLog)};
    recovered.logs_.push_back(*path);
  }
  std::vector<std::uint8_t> primary = ReadWhole(fd, hive, kLargestHive);
  // A file with no hive header at all and no log beside it is refused as
  // no hive when it is opened.
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

  UniqueFd memory(::memfd_create("sorbantilex-hive", MFD_CLOEXEC));
  if (!memory || !WriteAt(memory.get(), recovery.image.data(), recovery.image.size(), 0)) {
    throw OfflineRefusal("No se pudo preparar en memoria la recuperación de " + Quoted(hive) +
                         ": " + std::strerror(errno) + "." + kNothingChanged);
  }
  recovered.size_ = recovery.image.size();
  recovered.memory_ = memory.Release();
  return recovered;
}

std::vector<fs::path> KeepLogBackups(const std::vector<fs::path>& logs) {
  std::vector<fs::path> made;
  try {
    for (const fs::path& log : logs) {
      const fs::path backup = FreeBackupPath(log);
      auto fail = [&] {
        throw CommitError("no se pudo guardar la copia de seguridad " + Quoted(backup) + ": " +
                          std::strerror(errno));
      };
      const OpenedFile from = OpenRegularFile(log);
      if (!from) {
        throw CommitError("no se pudo leer " + Quoted(log) + ": " + from.problem);
      }
      UniqueFd to = CreateExclusive(backup, 0600, false);
      if (!to) fail();
      made.push_back(backup);
      std::vector<std::uint8_t> buffer(1 << 16);
      for (;;) {
        const ssize_t n = ::read(from.fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail();
        if (n == 0) break;
        if (!WriteAll(to.get(), buffer.data(), static_cast<std::size_t>(n))) fail();
      }
      if (::fsync(to.get()) != 0 || !to.Close()) fail();
    }
  } catch (...) {
    std::error_code ignored;
    for (const auto& backup : made) fs::remove(backup, ignored);
    throw;
  }
  return made;
}

bool MarkFileClean(int fd, std::uint32_t sequence) {
  std::vector<std::uint8_t> head(512);
  if (!ReadAt(fd, head.data(), head.size(), 0)) return false;
  MarkClean(head, sequence);
  return WriteAt(fd, head.data(), head.size(), 0);
}

}  // namespace sorbantilex::offline
