#pragma once

// The desktop window over a mounted Windows installation: which
// installations and profiles it is offered, and how one is opened.

#include <memory>
#include <string>
#include <vector>

#include "ui/cli/options.h"
#include "ui/qt/desktop.h"

namespace sorbantilex::desktop {

/// The installations and profiles the window may open: the one --windows
/// names, else those mounted; for each, every profile together (user
/// empty) where several fit --user (all when it is not given), then each
/// profile alone (folder name or SID, letter case ignored). An installation
/// that cannot be examined, or has no profile that fits, is offered as it
/// stands, so that opening it says why it cannot be repaired.
std::vector<DesktopTarget> FindDesktopTargets(const cli::Options& options);

/// Opens the installation and profile for repair, holding the installation
/// against other instances of the program. The registry changes stay in
/// memory until `Finish`, which writes them whatever the reason the program
/// ends (what was repaired stays repaired). Raises `Failure` with the reason,
/// nothing written, when the installation cannot be opened or another
/// instance works on it.
/// A target with no user opens the profiles `users` names (every profile
/// when it is empty). Steps that change HKEY_CURRENT_USER run for each.
std::unique_ptr<DesktopPlatform> OpenOfflineDesktop(const DesktopTarget& target,
                                                    const std::vector<std::string>& users = {});

}  // namespace sorbantilex::desktop
