#include "ui/desktop/offline_desktop.h"

#include <iostream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/offline/offline_errors.h"
#include "ui/text/offline_messages.h"
#include "platform/offline/session/session.h"
#include "registry/failure.h"
#include "ui/cli/change_report.h"
#include "ui/cli/every_profile.h"
#include "ui/cli/report.h"

namespace sorbantilex::desktop {
namespace {

constexpr std::string_view kInUse =
    "Sorbantilex ya está trabajando en esta instalación de Windows. Espere a que termine y "
    "vuelva a intentarlo.";

// The window's platform: an offline session, written when the program ends,
// whatever the reason (what was repaired stays repaired).
class OfflineDesktop final : public DesktopPlatform {
 public:
  explicit OfflineDesktop(std::unique_ptr<offline::Session> session)
      : session_(std::move(session)) {}

  RegistryApi& registry() override { return session_->registry(); }
  Token& token() override { return session_->token(); }
  SystemInfo& system() override { return session_->system(); }
  Files& files() override { return session_->files(); }
  Wmi& wmi() override { return session_->wmi(); }
  void StepStarted(std::string_view caption) override { session_->BeginStep(caption); }
  void StepFinished(const Step& step, const std::function<void()>& again) override {
    cli::RepeatForOtherProfiles(*session_, step, again);
  }
  std::string Report() override {
    std::vector<std::string> users;
    for (const offline::Profile& profile : session_->profiles()) users.push_back(profile.name);
    std::ostringstream text;
    cli::PrintReport({cli::Survey(session_->root(), users)}, text);
    return text.str();
  }

  std::vector<std::string> Notices() const override {
    std::vector<std::string> notices;
    for (const auto& notice : session_->notices()) notices.push_back(text::DescribeNotice(notice));
    notices.insert(notices.end(), more_notices_.begin(), more_notices_.end());
    return notices;
  }

  void Finish(EndReason) override {
    const offline::SessionResult result = session_->Finish();
    // The same report as the command line's, for whoever started the window
    // (the rescue window shows it when the window closes).
    cli::PrintChangeReport(*session_, result, std::cout, std::cerr);
    std::cout.flush();
    for (const offline::UndoFileResult& file : result.undo_files) {
      if (!file.error) continue;
      more_notices_.push_back(
          "No se pudo escribir el archivo para deshacer los cambios " +
          (file.profile ? "del perfil " + *file.profile : std::string("del registro del equipo")) +
          " en \"" + result.undo_folder.string() + "\" (" +
          std::generic_category().message(file.error->error_number()) +
          "); los cambios se han guardado igualmente.");
    }
    std::string description;
    for (const offline::Error& error : result.commit.errors) {
      if (!description.empty()) description += "\n";
      description += text::Describe(error);
    }
    if (!description.empty()) throw Failure(offline::kOfflineFailureNumber, description);
  }

 private:
  std::unique_ptr<offline::Session> session_;
  std::vector<std::string> more_notices_;
};

}  // namespace

std::vector<DesktopTarget> FindDesktopTargets(const cli::Options& options) {
  std::vector<DesktopTarget> targets;
  for (const offline::SessionTarget& found : offline::FindTargets(options.windows, options.users)) {
    targets.push_back(
        {found.installation.string(), found.users.size() == 1 ? found.users.front() : ""});
  }
  return targets;
}

std::unique_ptr<DesktopPlatform> OpenOfflineDesktop(const DesktopTarget& target,
                                                    const std::vector<std::string>& users) {
  std::unique_ptr<DesktopPlatform> platform;
  text::AsFailure([&] {
    auto session = offline::Session::Open(
        {target.installation, target.user.empty() ? users : std::vector{target.user}, false});
    if (session->another_instance()) {
      throw Failure(offline::kOfflineFailureNumber, std::string(kInUse));
    }
    platform = std::make_unique<OfflineDesktop>(std::move(session));
  });
  return platform;
}

}  // namespace sorbantilex::desktop
