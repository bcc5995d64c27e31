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

constexpr std::uint64_t kLargestHive = std::uint64_t{5} << 30;  // 4 GiB of bins and more
constexpr std::uint64_t kLargestLog = std::uint64_t{1} << 30;

[[noreturn]] void RefuseFile(const fs::path& path, int error_number) {
  throw Error(ErrorKind::kLogUnreadable, path, error_number);
}

// The whole file open on `fd`.
std::vector<std::uint8_t> ReadAll(int fd, const fs::path& path, std::uint64_t limit) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWhole(fd, limit, &bytes)) RefuseFile(path, errno);
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
      throw Error(ErrorKind::kAmbiguousLogs, *found, 0, it->path().string());
    }
    found = it->path();
  }
  if (error) RefuseFile(folder, error.value());
  return found;
}

}  // namespace

RecoveredHive::RecoveredHive(RecoveredHive&& other) noexcept
    : memory_(std::exchange(other.memory_, -1)),
      size_(other.size_),
      logs_(std::move(other.logs_)),
      summary_(std::move(other.summary_)),
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
    if (!file) throw Error(ErrorKind::kLogUnreadable, *path, *file.refusal);
    *slot = TransactionLog{path->filename().string(), ReadAll(file.fd.get(), *path, kLargestLog)};
    recovered.logs_.push_back(*path);
  }
  std::vector<std::uint8_t> primary = ReadAll(fd, hive, kLargestHive);
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
    throw Error(ErrorKind::kLogUnrecoverable, hive, refusal.issue());
  }
  recovered.sequence_ = recovery.sequence;

  UniqueFd memory(::memfd_create("sorbantilex-hive", MFD_CLOEXEC));
  if (!memory || !WriteAt(memory.get(), recovery.image.data(), recovery.image.size(), 0)) {
    throw Error(ErrorKind::kNoMemoryForRecovery, hive, errno);
  }
  recovered.size_ = recovery.image.size();
  recovered.memory_ = memory.Release();
  recovery.image = {};
  recovered.summary_ = std::move(recovery);
  return recovered;
}

bool MarkFileClean(int fd, std::uint32_t sequence) {
  std::vector<std::uint8_t> head(512);
  if (!ReadAt(fd, head.data(), head.size(), 0)) return false;
  MarkClean(head, sequence);
  return WriteAt(fd, head.data(), head.size(), 0);
}

}  // namespace sorbantilex::offline
