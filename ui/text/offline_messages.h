#pragma once

// What the user reads of the offline platform's errors: the one place they
// become Spanish.

#include <functional>
#include <string>

#include "platform/offline/error.h"
#include "platform/offline/hive_file/log_recovery.h"
#include "platform/offline/installation/hive_registry.h"

namespace sorbantilex::text {

/// The error as the user reads it: what went wrong, naming the file in
/// double quotes, what to do about it where there is something to do, and
/// what was left on disk ("No se ha modificado nada." where nothing was).
std::string Describe(const offline::Error& error);

/// A notice of the hive store as the user reads it: one sentence or two.
std::string DescribeNotice(const offline::StoreNotice& notice);

/// What the recovery of `hive` from its logs did: which logs were applied,
/// with how many entries, and why later ones were left out.
std::string DescribeRecovery(const std::string& hive, const offline::Recovery& recovery);

/// Why a hive's logs cannot recover it, or why replay stopped early.
std::string DescribeRecoveryIssue(const offline::RecoveryIssue& issue);

/// Runs `work` (opening an installation for repair) and hands what it raises
/// to the front ends in one form: a `Failure` passes unchanged; an
/// `offline::Error` comes out as `Failure` `offline::kOfflineFailureNumber`
/// with its description, as do the recovery's own refusals with theirs; any
/// other error with a message that says nothing was saved.
void AsFailure(const std::function<void()>& work);

}  // namespace sorbantilex::text
