#include "platform/offline/commit.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>
#include <utility>

#include "platform/offline/paths.h"
#include "platform/offline/safe_files.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t stop_asked = 0;

fs::path FolderOf(const fs::path& file) {
  return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// One file on its way through the commit.
struct Staged {
  PendingFile* file = nullptr;
  fs::path temporary;
  UniqueFd fd;
  bool created = false;
  fs::path backup;
  bool backup_made = false;
  std::vector<fs::path> more_backups;
  bool renamed = false;
};

void StopIfAsked() {
  if (stop_asked) {
    throw Error(ErrorKind::kStopped);
  }
}

// A copy of `from` at the new name `to`, synced; the copy keeps the mode.
void CopyForBackup(const fs::path& from, const fs::path& to) {
  const OpenedFile source = OpenRegularFile(from);
  if (!source) throw *source.refusal;
  UniqueFd copy = CreateExclusive(to, source.status.st_mode & 07777, false);
  if (!copy) throw Error(ErrorKind::kCreateFailed, to, errno);
  auto left = static_cast<std::uint64_t>(source.status.st_size);
  off_t offset = 0;
  while (left > 0) {
    const ssize_t n = ::sendfile(copy.get(), source.fd.get(), &offset, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : 0;
      ::unlink(to.c_str());
      throw Error(ErrorKind::kCopyFailed, from, error, to.string());
    }
    left -= static_cast<std::uint64_t>(n);
  }
  if (::fsync(copy.get()) != 0 || !copy.Close()) {
    const int error = errno;
    ::unlink(to.c_str());
    throw Error(ErrorKind::kSyncFailed, to, error);
  }
}

// What Windows keeps of a file besides its bytes and that an ntfs-3g mount
// shows as extended attributes: its security descriptor (who may read and
// write a hive) and its attributes (hidden, system...). The new file gets
// the old one's, so that it stands as Windows left the file; on other file
// systems there are none and nothing is copied. Raises when the old file
// has them and the new one does not take them.
void KeepWindowsMetadata(const fs::path& old_file, int fd, const fs::path& temporary) {
  for (const char* name : {"system.ntfs_acl", "system.ntfs_attrib_be"}) {
    const ssize_t size = ::lgetxattr(old_file.c_str(), name, nullptr, 0);
    if (size <= 0) continue;  // none (or no such attribute on this file system)
    std::vector<char> value(static_cast<std::size_t>(size));
    const ssize_t got = ::lgetxattr(old_file.c_str(), name, value.data(), value.size());
    if (got <= 0) continue;
    if (::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(got), 0) != 0) {
      throw Error(ErrorKind::kWriteFailed, temporary, errno, name);
    }
  }
}

void SyncFolder(const fs::path& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

std::vector<fs::path> KeepBackupCopies(const std::vector<fs::path>& files) {
  std::vector<fs::path> made;
  try {
    for (const fs::path& file : files) {
      const fs::path backup = FreeBackupPath(file);
      CopyForBackup(file, backup);
      made.push_back(backup);
    }
  } catch (...) {
    std::error_code ignored;
    for (const auto& backup : made) fs::remove(backup, ignored);
    throw;
  }
  return made;
}

void StopCommits() noexcept { stop_asked = 1; }

fs::path TemporaryName(const fs::path& file) {
  return FolderOf(file) / (file.filename().string() + ".sorbantilex-nuevo");
}

std::optional<Error> WhyNotReplaceable(const fs::path& path) {
  const fs::path folder = FolderOf(path);
  struct statvfs volume {};
  if (::statvfs(folder.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY)) {
    return Error(ErrorKind::kReadOnlyVolume, path);
  }
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) return Error(ErrorKind::kNotRegularFile, path);
    if ((status.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
      return Error(ErrorKind::kReadOnly, path);
    }
  } else if (errno != ENOENT) {
    return Error(ErrorKind::kReadFailed, path, errno);
  }
  if (::access(folder.c_str(), W_OK) != 0) return Error(ErrorKind::kFolderNotWritable, path);
  return std::nullopt;
}

void PendingBytes::Write(int fd, const fs::path& temporary) {
  if (!WriteAll(fd, content_.data(), content_.size())) {
    throw Error(ErrorKind::kWriteFailed, temporary, errno);
  }
}

void PendingBytes::Check(int fd, const fs::path& temporary) const {
  struct stat status {};
  std::vector<std::uint8_t> back(content_.size());
  if (::fstat(fd, &status) != 0 || static_cast<std::size_t>(status.st_size) != content_.size() ||
      (!back.empty() && !ReadAt(fd, back.data(), back.size(), 0)) || back != content_) {
    throw Error(ErrorKind::kCheckFailed, temporary);
  }
}

CommitReport CommitFiles(std::vector<std::unique_ptr<PendingFile>> files,
                         const CommitHooks& hooks) {
  CommitReport report;
  if (files.empty()) return report;
  stop_asked = 0;
  std::vector<Staged> staged(files.size());
  for (std::size_t k = 0; k < files.size(); ++k) {
    staged[k].file = files[k].get();
    staged[k].temporary = TemporaryName(files[k]->target());
  }
  const fs::path* current = nullptr;  // the file the step at hand works on
  auto discard = [&] {
    std::error_code ignored;
    for (auto& one : staged) {
      one.fd.Reset();
      if (one.created && !one.renamed) fs::remove(one.temporary, ignored);
      if (one.backup_made && !one.renamed) fs::remove(one.backup, ignored);
      if (!one.renamed) {
        for (const auto& made : std::exchange(one.more_backups, {})) fs::remove(made, ignored);
      }
    }
  };

  // Phase one: nothing on disk changes but the temporary files.
  try {
    for (auto& one : staged) {
      current = &one.file->target();
      if (auto why = one.file->Refusal()) throw *why;
      if (auto why = WhyNotReplaceable(*current)) throw *why;
    }
    for (auto& one : staged) {
      current = &one.file->target();
      StopIfAsked();
      // Created here, never through a link planted at the name.
      one.fd = CreateExclusive(one.temporary, 0600, true);
      if (!one.fd) throw Error(ErrorKind::kCreateFailed, one.temporary, errno);
      one.created = true;
      one.file->Write(one.fd.get(), one.temporary);
      struct stat old_status {};
      const mode_t mode =
          ::stat(current->c_str(), &old_status) == 0 ? old_status.st_mode & 07777 : 0644;
      ::fchmod(one.fd.get(), mode);
      KeepWindowsMetadata(*current, one.fd.get(), one.temporary);
    }
    for (auto& one : staged) {
      current = &one.file->target();
      if (::fsync(one.fd.get()) != 0) throw Error(ErrorKind::kSyncFailed, one.temporary, errno);
    }
    for (auto& one : staged) {
      current = &one.file->target();
      one.file->Check(one.fd.get(), one.temporary);
      if (!one.fd.Close()) throw Error(ErrorKind::kSyncFailed, one.temporary, errno);
    }
    for (auto& one : staged) {
      current = &one.file->target();
      if (hooks.before_rename) hooks.before_rename(one.temporary);
    }
    for (auto& one : staged) {
      current = &one.file->target();
      StopIfAsked();
      if (!hooks.keep_backup || ::access(current->c_str(), F_OK) != 0) continue;
      one.backup = FreeBackupPath(*current);
      // A hard link keeps the old file as it is when the new one replaces it.
      if (::link(current->c_str(), one.backup.c_str()) != 0) CopyForBackup(*current, one.backup);
      one.backup_made = true;
      one.more_backups = one.file->KeepMoreBackups();
    }
    current = nullptr;
    if (hooks.before_renames) hooks.before_renames();
    StopIfAsked();
  } catch (const Error& error) {
    discard();
    report.errors.push_back(Error::CommitFailed(current != nullptr ? *current : fs::path(), error));
    return report;
  } catch (const std::exception& error) {
    discard();
    report.errors.push_back(
        Error::CommitFailed(current != nullptr ? *current : fs::path(),
                            Error(ErrorKind::kUnexpected, {}, 0, error.what())));
    return report;
  }

  // Phase two: the renames, one after the other.
  std::set<fs::path> folders;
  for (auto& one : staged) {
    const fs::path& target = one.file->target();
    if (::rename(one.temporary.c_str(), target.c_str()) != 0) {
      const int error = errno;
      std::string done;
      for (const auto& written : report.written) {
        done += (done.empty() ? "" : "\n") + written.hive.string();
      }
      discard();
      report.errors.emplace_back(ErrorKind::kReplaceFailed, target, error, std::move(done));
      break;
    }
    one.renamed = true;
    folders.insert(FolderOf(target));
    report.written.push_back({target, one.backup_made ? one.backup : fs::path(), one.more_backups});
  }
  for (const auto& folder : folders) SyncFolder(folder);
  return report;
}

}  // namespace sorbantilex::offline
