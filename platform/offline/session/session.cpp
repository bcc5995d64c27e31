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
                                       const std::vector<std::string>& users) {
  const std::vector<fs::path> roots =
      windows ? std::vector<fs::path>{*windows} : FindInstallations();
  std::vector<SessionTarget> targets;
  for (const fs::path& root : roots) {
    std::vector<Profile> fitting;
    try {
      for (Profile& profile : Installation::Find(root).Profiles()) {
        bool fits = users.empty();
        for (const std::string& user : users) {
          fits = fits || SameName(profile.name, user) || SameName(profile.sid, user);
        }
        if (fits) fitting.push_back(std::move(profile));
      }
    } catch (const std::exception&) {
      // Given as it stands below; opening it tells why.
    }
    if (fitting.size() != 1) targets.push_back({root, users});
    for (const Profile& profile : fitting) targets.push_back({root, {profile.name}});
  }
  return targets;
}

// Declared in the order they are made: the lock before any hive is read.
struct Session::Parts {
  explicit Parts(const SessionTarget& target)
      : installation(Installation::Find(target.installation, target.report
                                                                 ? Installation::Use::kReport
                                                                 : Installation::Use::kRepair)),
        lock(target.report ? nullptr : std::make_unique<InstanceLock>(installation)),
        store(OpenStore(installation, target, &profiles)),
        journal(*store),
        system(journal),
        files(installation.root(), system.WindowsDirectory().substr(0, 2),
              target.dry_run || target.report),
        wmi(journal) {}

  static std::unique_ptr<HiveRegistry> OpenStore(const Installation& installation,
                                                 const SessionTarget& target,
                                                 std::vector<Profile>* profiles) {
    const bool writing = !target.dry_run && !target.report;
    // SOFTWARE, opened once, serves the profiles' lookup and the store.
    auto software = Hive::Open(installation.software(), "SOFTWARE", writing, installation.root());
    try {
      *profiles = installation.Select(target.users, software.get());
    } catch (const Error& error) {
      // A report reads the machine's keys all the same.
      if (!target.report || error.kind() != ErrorKind::kNoProfile) throw;
    }
    return std::make_unique<HiveRegistry>(installation.Hives(*profiles), writing,
                                          std::move(software));
  }

  Installation installation;
  std::unique_ptr<InstanceLock> lock;  // none for a report
  std::vector<Profile> profiles;
  std::unique_ptr<HiveRegistry> store;
  Journal journal;
  OfflineSystemInfo system;
  OfflineFiles files;
  OfflineWmi wmi;
  OfflineToken token;
  std::size_t selected = 0;
};

Session::Session(SessionTarget target) : target_(std::move(target)) {}
Session::~Session() = default;

std::unique_ptr<Session> Session::Open(const SessionTarget& target) {
  std::unique_ptr<Session> session(new Session(target));
  session->parts_ = std::make_unique<Parts>(target);
  if (!session->parts_->profiles.empty()) session->SelectProfile(0);
  return session;
}

bool Session::another_instance() const { return parts_->lock && !parts_->lock->held(); }
const fs::path& Session::root() const { return parts_->installation.root(); }
const Installation& Session::installation() const { return parts_->installation; }
const std::vector<Profile>& Session::profiles() const { return parts_->profiles; }
std::size_t Session::selected_profile() const { return parts_->selected; }

void Session::SelectProfile(std::size_t index) {
  parts_->store->SelectUser(index);
  parts_->journal.SetProfile(parts_->profiles.at(index).name);
  parts_->selected = index;
}

void Session::RepeatForOtherProfiles(std::string_view caption, const std::function<void()>& again) {
  if (parts_->profiles.size() < 2) return;
  struct BackToFirst {
    Session& session;
    ~BackToFirst() { session.SelectProfile(0); }
  } back{*this};
  for (std::size_t index = 1; index < parts_->profiles.size(); ++index) {
    SelectProfile(index);
    BeginStep(caption);
    again();
  }
}
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
  result.dry_run = dry_run();
  result.undo_folder = parts_->installation.software().parent_path();
  if (dry_run() || another_instance()) return result;

  // The undo files are made now, once, and written when every new file is
  // on disk, before the first of them replaces its old one: a run whose
  // changes are final has its undo files, whatever stops it then. The
  // machine's keys and each profile's are apart: each profile's file is
  // imported by that user, where HKEY_CURRENT_USER is that profile.
  std::vector<std::vector<std::uint8_t>> contents;
  for (const Journal::UndoPart& part : parts_->journal.UndoParts()) {
    UndoFileResult file;
    file.profile = part.profile;
    contents.push_back(RegFileBytes(part.keys, &file.omitted));
    result.undo_files.push_back(std::move(file));
  }
  const std::time_t now = std::time(nullptr);
  CommitHooks hooks = test_hooks;
  hooks.before_renames = [&] {
    for (std::size_t i = 0; i < result.undo_files.size(); ++i) {
      UndoFileResult& file = result.undo_files[i];
      try {
        file.path = WriteUndoFile(result.undo_folder, now, contents[i],
                                  file.profile.value_or(std::string()));
      } catch (const Error& error) {
        file.error = error;
      }
    }
    if (test_hooks.before_renames) test_hooks.before_renames();
  };
  result.commit = parts_->store->Commit(hooks, parts_->files.Pending());
  if (result.commit.written.empty()) {
    // Nothing was replaced: there is nothing to take back.
    for (const UndoFileResult& file : result.undo_files) {
      if (!file.path.empty()) ::unlink(file.path.c_str());
    }
    result.undo_files.clear();
  }
  return result;
}

}  // namespace sorbantilex::offline
