#include "platform/offline/session/session.h"

#include <unistd.h>

#include <ctime>
#include <utility>

#include "platform/offline/hive_file/hive.h"
#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/undo_file.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

std::vector<fs::path> FindInstallations() { return MountedInstallations(); }

std::vector<SessionTarget> FindTargets(const std::optional<fs::path>& windows,
                                       std::string_view user) {
  const std::vector<fs::path> roots =
      windows ? std::vector<fs::path>{*windows} : FindInstallations();
  std::vector<SessionTarget> targets;
  for (const fs::path& root : roots) {
    const std::size_t before = targets.size();
    try {
      for (const Profile& profile : Installation::Find(root).Profiles()) {
        if (user.empty() || SameName(profile.name, user) || SameName(profile.sid, user)) {
          targets.push_back({root, profile.name});
        }
      }
    } catch (const std::exception&) {
      // Given as it stands below; opening it tells why.
    }
    if (targets.size() == before) targets.push_back({root, std::string(user)});
  }
  return targets;
}

// Declared in the order they are made: the lock before any hive is read.
struct Session::Parts {
  explicit Parts(const SessionTarget& target)
      : installation(Installation::Find(target.installation)),
        lock(installation),
        store(OpenStore(installation, target)),
        journal(*store),
        system(journal),
        files(installation.root(), system.WindowsDirectory().substr(0, 2), target.dry_run),
        wmi(journal) {}

  static std::unique_ptr<HiveRegistry> OpenStore(const Installation& installation,
                                                 const SessionTarget& target) {
    // SOFTWARE, opened once, serves the profiles' lookup and the store.
    auto software = Hive::Open(installation.software(), "SOFTWARE", !target.dry_run,
                               installation.root());
    const HivePaths paths = installation.Hives(target.user, software.get());
    return std::make_unique<HiveRegistry>(paths, !target.dry_run, std::move(software));
  }

  Installation installation;
  InstanceLock lock;
  std::unique_ptr<HiveRegistry> store;
  Journal journal;
  OfflineSystemInfo system;
  OfflineFiles files;
  OfflineWmi wmi;
  OfflineToken token;
};

Session::Session(SessionTarget target) : target_(std::move(target)) {}
Session::~Session() = default;

std::unique_ptr<Session> Session::Open(const SessionTarget& target) {
  std::unique_ptr<Session> session(new Session(target));
  session->parts_ = std::make_unique<Parts>(target);
  return session;
}

bool Session::another_instance() const { return !parts_->lock.held(); }
const fs::path& Session::root() const { return parts_->installation.root(); }
RegistryApi& Session::registry() { return parts_->journal; }
const Journal& Session::journal() const { return parts_->journal; }
SystemInfo& Session::system() { return parts_->system; }
Files& Session::files() { return parts_->files; }
Wmi& Session::wmi() { return parts_->wmi; }
Token& Session::token() { return parts_->token; }
void Session::BeginStep(std::string_view caption) {
  parts_->journal.BeginSection(std::string(caption));
}
const std::vector<FileChange>& Session::file_changes() const { return parts_->files.changes(); }
const std::vector<StoreNotice>& Session::notices() const { return parts_->store->notices(); }
std::optional<Error> Session::Damage() const { return parts_->store->Damage(); }

SessionResult Session::Finish(const CommitHooks& test_hooks) {
  SessionResult result;
  result.dry_run = target_.dry_run;
  result.undo_folder = parts_->installation.software().parent_path();
  if (target_.dry_run || another_instance()) return result;

  // The undo file is made now, once, and written when every new file is on
  // disk, before the first of them replaces its old one: a run whose
  // changes are final has its undo file, whatever stops it then.
  const bool undoable = !parts_->journal.empty();
  const std::vector<std::uint8_t> undo =
      undoable ? RegFileBytes(parts_->journal.UndoKeys(), &result.undo_omitted)
               : std::vector<std::uint8_t>{};
  CommitHooks hooks = test_hooks;
  hooks.before_renames = [&] {
    if (undoable) {
      try {
        result.undo_file = WriteUndoFile(result.undo_folder, std::time(nullptr), undo);
      } catch (const Error& error) {
        result.undo_error = error;
      }
    }
    if (test_hooks.before_renames) test_hooks.before_renames();
  };
  result.commit = parts_->store->Commit(hooks, parts_->files.Pending());
  if (result.commit.written.empty() && !result.undo_file.empty()) {
    // Nothing was replaced: there is nothing to take back.
    ::unlink(result.undo_file.c_str());
    result.undo_file.clear();
  }
  return result;
}

}  // namespace sorbantilex::offline
