#include "ui/cli/offline_desktop.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <string_view>

#include "platform/offline/hive_registry.h"
#include "platform/offline/installation.h"
#include "platform/offline/offline_errors.h"
#include "platform/offline/offline_platform.h"
#include "platform/offline/undo_file.h"
#include "registry/failure.h"
#include "registry/undo_recorder.h"
#include "ui/text/offline_messages.h"

namespace sorbantilex::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kInUse =
    "Sorbantilex ya está trabajando en esta instalación de Windows. Espere a que termine y "
    "vuelva a intentarlo.";

bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

class OfflineDesktop final : public DesktopPlatform {
 public:
  explicit OfflineDesktop(const DesktopTarget& target)
      : installation_(offline::Installation::Find(target.installation)),
        lock_(installation_),
        hives_(installation_.Hives(target.user)),
        store_(hives_, true),
        undo_(store_),
        system_(store_),
        files_(installation_.root(), system_.WindowsDirectory().substr(0, 2), false),
        wmi_(undo_) {
    if (!lock_.held()) throw Failure(offline::kOfflineFailureNumber, std::string(kInUse));
  }

  RegistryApi& registry() override { return undo_; }
  Token& token() override { return token_; }
  SystemInfo& system() override { return system_; }
  Files& files() override { return files_; }
  Wmi& wmi() override { return wmi_; }

  std::vector<std::string> Notices() const override { return store_.notices(); }

  void Finish(EndReason) override {
    const offline::CommitReport report = store_.Commit({}, files_.Pending());
    // The undo file goes beside the hive backups; the window says nothing
    // of it, and a run stands where it cannot be written.
    if (!report.written.empty() && !undo_.empty()) {
      try {
        offline::WriteUndoFile(hives_.software.parent_path(), std::time(nullptr), undo_.UndoFile());
      } catch (const std::exception&) {
      }
    }
    if (report.errors.empty()) return;
    std::string description;
    for (const offline::Error& error : report.errors) {
      if (!description.empty()) description += "\n";
      description += text::Describe(error);
    }
    throw Failure(offline::kOfflineFailureNumber, description);
  }

 private:
  offline::Installation installation_;
  offline::InstanceLock lock_;
  offline::HivePaths hives_;
  offline::HiveRegistry store_;
  UndoRecorder undo_;
  offline::OfflineSystemInfo system_;
  offline::OfflineFiles files_;
  offline::OfflineWmi wmi_;
  offline::OfflineToken token_;
};

}  // namespace

std::vector<DesktopTarget> FindDesktopTargets(const Options& options) {
  const std::vector<fs::path> roots =
      options.windows ? std::vector<fs::path>{*options.windows} : offline::MountedInstallations();
  std::vector<DesktopTarget> targets;
  for (const fs::path& root : roots) {
    const std::size_t before = targets.size();
    try {
      for (const offline::Profile& profile : offline::Installation::Find(root).Profiles()) {
        if (options.user.empty() || SameName(profile.name, options.user) ||
            SameName(profile.sid, options.user)) {
          targets.push_back({root.string(), profile.name});
        }
      }
    } catch (const std::exception&) {
      // Offered as it stands below; opening it tells why.
    }
    if (targets.size() == before) targets.push_back({root.string(), options.user});
  }
  return targets;
}

std::unique_ptr<DesktopPlatform> OpenOfflineDesktop(const DesktopTarget& target) {
  std::unique_ptr<DesktopPlatform> platform;
  text::AsFailure([&] { platform = std::make_unique<OfflineDesktop>(target); });
  return platform;
}

}  // namespace sorbantilex::cli
