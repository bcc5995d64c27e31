#pragma once

// The offline platform's errors (see error.h for how they reach the user).

#include "platform/offline/error.h"

namespace sorbantilex::offline {

/// The number of a `Failure` that carries an offline error: Windows' "access
/// denied", the installation cannot be worked on now.
inline constexpr int kOfflineFailureNumber = 5;

}  // namespace sorbantilex::offline
