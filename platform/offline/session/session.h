#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/commit.h"
#include "platform/offline/error.h"
#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/offline_platform.h"
#include "registry/journal.h"
#include "registry/registry_api.h"
#include "registry/token.h"
#include "tasks/automation.h"
#include "tasks/files.h"
#include "tasks/system_info.h"

namespace sorbantilex::offline {

/// An installation and the profiles whose settings the repairs change.
struct SessionTarget {
  std::filesystem::path installation;  // the mounted folder
  /// Folder names or SIDs of the profiles (letter case ignored); empty:
  /// every profile of the installation.
  std::vector<std::string> users;
  bool dry_run = false;
  /// Only to read and report: no lock is taken, nothing is ever written (a
  /// dry run), the hives are opened read-only, a hibernated volume is
  /// examined all the same, and an installation without profiles is opened
  /// without HKEY_CURRENT_USER.
  bool report = false;
};

/// The installations mounted now: their folders (read from /proc/self/mounts).
std::vector<std::filesystem::path> FindInstallations();

/// The installations and profiles a run may open: the one `windows` names,
/// else those mounted. For each, where several profiles fit `users` (every
/// profile when it is empty; else those it names, folder name or SID,
/// letter case ignored), first all of them together (`users` as given),
/// then each profile alone. An installation that cannot be examined, or
/// has no profile that fits, is given as it stands, so that opening it says
/// why it cannot be repaired.
std::vector<SessionTarget> FindTargets(const std::optional<std::filesystem::path>& windows,
                                       const std::vector<std::string>& users);

/// The undo registry file of one part of a run.
struct UndoFileResult {
  /// Whose keys: nullopt for the machine's (HKEY_LOCAL_MACHINE), else the
  /// profile whose HKEY_CURRENT_USER it restores (to be imported by that
  /// user).
  std::optional<std::string> profile;
  /// Where it was written; empty when it could not be (`error` says why:
  /// the changes stand all the same).
  std::filesystem::path path;
  std::optional<Error> error;
  /// Keys and values it leaves out, their names escaped: names with line
  /// breaks or zeros, which no registry file can hold.
  std::vector<std::string> omitted;
};

/// What the end of a session did.
struct SessionResult {
  bool dry_run = false;
  /// The files replaced, their backups, and what went wrong writing them.
  CommitReport commit;
  /// The undo files, written before the first file was replaced: the
  /// machine's first, then one per profile whose HKEY_CURRENT_USER changed;
  /// none when nothing was replaced.
  std::vector<UndoFileResult> undo_files;
  std::filesystem::path undo_folder;
};

/// One run on a Windows installation from start to end: the installation
/// found and held against other instances of the program, its hives opened
/// (and recovered from their logs, in memory, where Windows left them
/// dirty), a journal of every registry change stacked on them, and at the
/// end one commit of every changed file, the undo files written before the
/// changes become final. HKEY_CURRENT_USER is one of the selected profiles'
/// hives at a time (`SelectProfile`); all are committed together. The front ends give the repairs
/// `registry()`, `system()`, `files()`, `wmi()` and `token()` and call `Finish` once, however the
/// run ends.
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
  bool dry_run() const { return target_.dry_run || target_.report; }
  const std::filesystem::path& root() const;
  const Installation& installation() const;

  /// The profiles the run works on, in order; none only for a report on an
  /// installation without profiles.
  const std::vector<Profile>& profiles() const;
  /// From now on HKEY_CURRENT_USER is profile `index`'s hive.
  void SelectProfile(std::size_t index);
  std::size_t selected_profile() const;
  /// Runs `again` once for each profile after the first, with that profile
  /// selected and a step `caption` begun for it, then selects the first
  /// profile again, however `again` ends. Does nothing with one profile.
  void RepeatForOtherProfiles(std::string_view caption, const std::function<void()>& again);

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
  /// with the undo files written before the first rename. Call once.
  /// `hooks` are a test's seam into the commit: its `before_renames` runs
  /// once the undo files are written.
  SessionResult Finish(const CommitHooks& hooks = {});

 private:
  struct Parts;
  explicit Session(SessionTarget target);

  SessionTarget target_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace sorbantilex::offline
