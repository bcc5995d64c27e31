#include "platform/offline/error.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace sorbantilex::offline {

Error::Error(ErrorKind kind, std::filesystem::path path, int error_number, std::string detail)
    : kind_(kind), path_(std::move(path)), error_number_(error_number), detail_(std::move(detail)) {
  Compose();
}

Error::Error(ErrorKind kind, std::filesystem::path path, HiveDefect defect)
    : kind_(kind), path_(std::move(path)), defect_(defect) {
  Compose();
}

Error::Error(ErrorKind kind, std::filesystem::path path, RecoveryIssue recovery)
    : kind_(kind),
      path_(std::move(path)),
      recovery_(std::make_shared<const RecoveryIssue>(std::move(recovery))) {
  Compose();
}

Error::Error(ErrorKind kind, std::filesystem::path path, const Error& cause)
    : kind_(kind), path_(std::move(path)), cause_(std::make_shared<const Error>(cause)) {
  Compose();
}

Error Error::CommitFailed(std::filesystem::path path, Error cause) {
  Error error(ErrorKind::kCommitFailed, std::move(path));
  error.cause_ = std::make_shared<const Error>(std::move(cause));
  error.Compose();
  return error;
}

void Error::Compose() {
  what_ = std::string(KindName(kind_));
  if (!path_.empty()) what_ += " path=" + path_.string();
  if (error_number_ != 0) {
    what_ += " errno=" + std::to_string(error_number_) + " (" + std::strerror(error_number_) + ")";
  }
  if (!detail_.empty()) what_ += " detail=" + detail_;
  if (defect_) {
    what_ += " defect=" + std::to_string(static_cast<int>(defect_.what)) + "/" +
             std::to_string(defect_.first) + "/" + std::to_string(defect_.second);
  }
  if (recovery_) {
    what_ += " recovery=" + std::to_string(static_cast<int>(recovery_->kind));
    if (!recovery_->log.empty()) what_ += "/" + recovery_->log;
  }
  if (cause_) what_ += "; cause: " + std::string(cause_->what());
}

std::string_view KindName(ErrorKind kind) {
  switch (kind) {
#define SORBANTILEX_KIND(name) \
  case ErrorKind::name:        \
    return #name;
    SORBANTILEX_KIND(kNotAFolder)
    SORBANTILEX_KIND(kNoWindowsFolder)
    SORBANTILEX_KIND(kInstallationIncomplete)
    SORBANTILEX_KIND(kHibernated)
    SORBANTILEX_KIND(kNoProfile)
    SORBANTILEX_KIND(kProfileNotFound)
    SORBANTILEX_KIND(kSeveralProfiles)
    SORBANTILEX_KIND(kInstallationPresent)
    SORBANTILEX_KIND(kHiveMissing)
    SORBANTILEX_KIND(kNotRegularFile)
    SORBANTILEX_KIND(kLinkOutside)
    SORBANTILEX_KIND(kReadFailed)
    SORBANTILEX_KIND(kNotAHive)
    SORBANTILEX_KIND(kReadOnly)
    SORBANTILEX_KIND(kReadOnlyVolume)
    SORBANTILEX_KIND(kFolderNotWritable)
    SORBANTILEX_KIND(kLogUnrecoverable)
    SORBANTILEX_KIND(kLogUnreadable)
    SORBANTILEX_KIND(kAmbiguousLogs)
    SORBANTILEX_KIND(kNoMemoryForRecovery)
    SORBANTILEX_KIND(kDamagedKey)
    SORBANTILEX_KIND(kControlSetUnknown)
    SORBANTILEX_KIND(kValueTooLarge)
    SORBANTILEX_KIND(kCommitFailed)
    SORBANTILEX_KIND(kReplaceFailed)
    SORBANTILEX_KIND(kStopped)
    SORBANTILEX_KIND(kAlreadyCommitted)
    SORBANTILEX_KIND(kCreateFailed)
    SORBANTILEX_KIND(kWriteFailed)
    SORBANTILEX_KIND(kCopyFailed)
    SORBANTILEX_KIND(kSyncFailed)
    SORBANTILEX_KIND(kCheckFailed)
    SORBANTILEX_KIND(kHivexFailed)
    SORBANTILEX_KIND(kSortFailed)
    SORBANTILEX_KIND(kUndoFileNotWritten)
    SORBANTILEX_KIND(kUnexpected)
#undef SORBANTILEX_KIND
  }
  return "kUnknown";
}

}  // namespace sorbantilex::offline
