#pragma once

// The offline platform's errors (see error.h for how they reach the user),
// and what is left of the older ones.

#include <stdexcept>

#include "platform/offline/error.h"

namespace sorbantilex::offline {

/// The number of a `Failure` that carries an offline error: Windows' "access
/// denied", the installation cannot be worked on now.
inline constexpr int kOfflineFailureNumber = 5;

/// Raised, with a Spanish message, by the recovery of hives from their
/// transaction logs (dirty_hive.cpp) until it raises `Error`
/// (`kLogUnrecoverable`, `kLogUnreadable`): a dirty hive that cannot be
/// recovered as Windows would. Nothing on disk has been changed.
class OfflineRefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Raised the same way when the logs of a recovered hive cannot be kept as
/// backups; the commit reports it as `kUnexpected`.
class CommitError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace sorbantilex::offline
