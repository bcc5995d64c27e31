#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/commit.h"
#include "platform/offline/error.h"
#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/offline_platform.h"
#include "registry/journal.h"
#include "registry/registry_api.h"
#include "registry/token.h"
#include "tasks/automation.h"
#include "tasks/files.h"
#include "tasks/system_info.h"

namespace sorbantilex::offline {

/// An installation and the profile whose settings the repairs change.
struct SessionTarget {
  std::filesystem::path installation;  // the mounted folder
  std::string user;                    // folder name or SID; empty: the only profile
  bool dry_run = false;
};

/// The installations mounted now: their folders (read from /proc/self/mounts).
std::vector<std::filesystem::path> FindInstallations();

/// The installations and profiles a run may open: the one `windows` names,
/// else those mounted; each profile of each, narrowed to the one `user`
/// names (folder name or SID, letter case ignored as Windows ignores it).
/// An installation that cannot be examined, or has no profile that fits, is
/// given as it stands, so that opening it says why it cannot be repaired.
std::vector<SessionTarget> FindTargets(const std::optional<std::filesystem::path>& windows,
                                       std::string_view user);

/// What the end of a session did.
struct SessionResult {
  bool dry_run = false;
  /// The files replaced, their backups, and what went wrong writing them.
  CommitReport commit;
  /// The undo file, written before the first file was replaced; empty when
  /// none was needed or it could not be written (`undo_error` says why:
  /// the changes stand all the same).
  std::filesystem::path undo_file;
  std::optional<Error> undo_error;
  std::filesystem::path undo_folder;
  /// Keys and values the undo file leaves out, their names escaped: names
  /// with line breaks or zeros, which no registry file can hold.
  std::vector<std::string> undo_omitted;
};

/// One run on a Windows installation from start to end: the installation
/// found and held against other instances of the program, its hives opened
/// (and recovered from their logs, in memory, where Windows left them
/// dirty), a journal of every registry change stacked on them, and at the
/// end one commit of every changed file, the undo file written before the
/// changes become final. The front ends give the repairs `registry()`,
/// `system()`, `files()`, `wmi()` and `token()` and call `Finish` once,
/// however the run ends.
class Session {
 public:
  /// Opens the target. Raises the offline platform's error (nothing on disk
  /// changed) when it cannot be worked on.
  static std::unique_ptr<Session> Open(const SessionTarget& target);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// True when another instance of the program holds the installation: the
  /// session must then end without writing.
  bool another_instance() const;
  bool dry_run() const { return target_.dry_run; }
  const std::filesystem::path& root() const;

  RegistryApi& registry();
  const Journal& journal() const;
  SystemInfo& system();
  Files& files();
  Wmi& wmi();
  Token& token();

  /// The changes from now on belong to the step `caption`.
  void BeginStep(std::string_view caption);
  /// The files the run replaces (or would, in a dry run).
  const std::vector<FileChange>& file_changes() const;
  /// Hives recovered from their logs, changes the store refused.
  const std::vector<StoreNotice>& notices() const;
  /// Why the run must stop with nothing written (a key that could not be
  /// read: what the repairs read as absent may only be unreadable); none
  /// while every read succeeded.
  std::optional<Error> Damage() const;

  /// Writes what the run changed (nothing in a dry run, once damage was
  /// met, or when another instance holds the installation), all or none,
  /// with the undo file written before the first rename. Call once.
  /// `hooks` are a test's seam into the commit: its `before_renames` runs
  /// once the undo file is written.
  SessionResult Finish(const CommitHooks& hooks = {});

 private:
  struct Parts;
  explicit Session(SessionTarget target);

  SessionTarget target_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace sorbantilex::offline
