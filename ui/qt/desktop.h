#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/task_catalog.h"
#include "app/window_system.h"
#include "registry/registry_api.h"
#include "registry/token.h"
#include "tasks/automation.h"
#include "tasks/files.h"
#include "tasks/system_info.h"

namespace sorbantilex {

/// A Windows installation and the user profile whose settings the repairs
/// change, as the command line found them.
struct DesktopTarget {
  std::string installation;  // the mounted folder of the Windows installation
  std::string user;          // the profile's user name; empty: every profile
};

/// An installation opened for repair. Changes are held until `Commit`.
class DesktopPlatform {
 public:
  DesktopPlatform() = default;
  virtual ~DesktopPlatform() = default;
  DesktopPlatform(const DesktopPlatform&) = delete;
  DesktopPlatform& operator=(const DesktopPlatform&) = delete;

  virtual RegistryApi& registry() = 0;
  virtual Token& token() = 0;
  virtual SystemInfo& system() = 0;
  virtual Files& files() = 0;
  virtual Wmi& wmi() = 0;
  /// The task runner starts the step with this caption.
  virtual void StepStarted(std::string_view /*caption*/) {}
  /// The task runner has finished `step`; `again` runs it once more (the
  /// platform may run it for further profiles).
  virtual void StepFinished(const Step& /*step*/, const std::function<void()>& /*again*/) {}
  /// What each repair would change on the installation as it is on disk,
  /// as text, nothing written; empty where the platform has no report.
  virtual std::string Report() { return {}; }
  /// The program ends for `reason`: writes the changes made so far to the
  /// installation as the reason calls for. Raises `Failure` when it cannot,
  /// leaving the installation as it was.
  virtual void Finish(EndReason reason) = 0;
  /// What the user should know about the installation, one Spanish
  /// sentence each, in the order it came: hives recovered from their
  /// transaction logs when it was opened, changes refused since.
  virtual std::vector<std::string> Notices() const { return {}; }
};

struct DesktopOptions {
  /// The installations and profiles found (already narrowed to those the
  /// command line named, if any).
  std::vector<DesktopTarget> found;
  /// Opens one of them; raises `Failure` when it cannot.
  std::function<std::unique_ptr<DesktopPlatform>(const DesktopTarget&)> open;
};

/// The desktop program: with exactly one target it opens the main window on
/// it; with several, a small chooser comes first; with none, a message says
/// how to mount a Windows disk. The installation's notices are shown when it
/// opens and, those that came later, when the program ends. Every end of the
/// program hands the changes made to `DesktopPlatform::Finish` and exits the
/// process. Returns only when the program
/// ends before its main window opens (nothing found, the chooser cancelled, the installation could
/// not be opened), with the exit code: 0 when the user cancelled, 1 otherwise.
int RunDesktop(int& argc, char** argv, const DesktopOptions& options);

}  // namespace sorbantilex
