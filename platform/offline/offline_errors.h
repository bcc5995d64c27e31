#pragma once

// How the program reports what goes wrong, layer by layer.
//
// - Registry calls (`RegistryApi`: the in-memory, live and hive registries
//   alike) return Windows status codes and never raise. A missing key is a
//   status (2), not a failure; `Registro` and the repairs pass over keys that
//   are missing or refused.
// - `Failure` (registry/failure.h: a number and a Spanish description) is
//   raised where a call has no status to give: WMI, files, value
//   conversions. A repair lets it through; the task runner
//   (`Menu::OnUnlockClick`) is the one place in the core that catches it,
//   shows "Sorbantilex recibió el error N" and ends the program.
// - The offline platform adds two exceptions, both before or after the
//   repairs, never during them:
//   - `OfflineRefusal`, raised while an installation or a hive is opened
//     (`Installation::Find`, `Installation::Hives`, `Hive::Open`) when it
//     cannot be worked on safely. Nothing has been written; the message
//     names the file and says what to do. (The transaction-log recovery's
//     own `RecoveryRefusal` becomes one where the hive is opened.)
//   - `CommitError`, raised while the changed files are written back
//     (`CommitFiles`, which `HiveRegistry::Commit` uses, and the blank-hive
//     writer). `CommitFiles` catches it and lists it in
//     `CommitReport::errors`; raised before the renames, nothing of the
//     run is saved.
//   While the repairs run, the hive store answers with statuses like any
//   registry; a change it declines to make (one that would damage the file)
//   is a status too, explained in `HiveRegistry::notices`.
// - The front ends over the offline platform (the command line and the
//   desktop window) receive its errors through `OfflineAsFailure` alone, as
//   a `Failure` they show as it stands. The errors of writing the changes
//   at the end arrive as the commit report's list, which each front end
//   shows: the command line prints it, the desktop raises it as a `Failure`.

#include <functional>
#include <stdexcept>

namespace sorbantilex::offline {

/// Raised when an installation or a hive cannot be worked on safely. The
/// message (Spanish) names the file and says what to do; nothing on disk has
/// been changed when it is raised.
class OfflineRefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Raised when writing a changed file failed; a file that was there before
/// is then still the old one, byte for byte.
class CommitError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The number of a `Failure` that carries an offline error: Windows' "access
/// denied", the installation cannot be worked on now.
inline constexpr int kOfflineFailureNumber = 5;

/// Runs `work` (opening an installation for repair) and hands what it raises
/// to the front ends in one form: a `Failure` passes unchanged; an
/// `OfflineRefusal`, a `CommitError` or any other error comes out as
/// `Failure` `kOfflineFailureNumber` with the message, which for an error the
/// platform did not foresee says that nothing was saved.
void OfflineAsFailure(const std::function<void()>& work);

}  // namespace sorbantilex::offline
