#pragma once

#include <filesystem>
#include <string_view>

#include "registry/registry_api.h"

namespace sorbantilex::offline {

/// The user of the sample installation.
inline constexpr std::string_view kSampleUser = "Juan";
inline constexpr std::string_view kSampleUserSid = "S-1-5-21-1757981266-1645522239-839522115-1003";

/// The hosts file of the sample: hijacked entries after the localhost line.
inline constexpr std::string_view kSampleHosts =
    "# Copyright (c) 1993-1999 Microsoft Corp.\r\n"
    "127.0.0.1       localhost\r\n"
    "69.50.176.30    www.google.com\r\n"
    "69.50.176.30    www.bancoejemplo.com\r\n"
    "0.0.0.0         windowsupdate.microsoft.com\r\n";

/// Writes into `registry` what a Windows XP system looks like after a typical
/// infection, one piece of damage for each of the fifteen repairs: policy
/// locks under both roots and in the group-policy copies, broken hidden-file
/// settings, a hijacked Shell and Userinit, SFCDisable set, a SafeBoot key
/// gutted with a planted entry, trusted and restricted zone entries on both
/// levels, pop-up allow entries, a locked start page, and a disabled
/// srservice. Also the system's own keys the program reads (SystemRoot,
/// version, the "OS" variable, the user's profile). Works on any registry
/// that has HKEY_LOCAL_MACHINE\SOFTWARE, \SYSTEM and HKEY_CURRENT_USER;
/// raises `Failure` with the status of a call the registry refuses.
void PlantSampleDamage(RegistryApi& registry);

/// Creates a damaged Windows XP installation in `root` (which must not hold
/// one yet): the Windows folder with SOFTWARE and SYSTEM written as blank
/// hives by this program and filled through libhivex, the profile
/// "Documents and Settings\Juan" with its NTUSER.DAT, srsvc.dll, and a
/// hijacked hosts file. Raises `Error`: kInstallationPresent when `root`
/// already holds an installation, another kind when a file cannot be
/// written; `Failure` when the hive store refuses a change.
void MakeSampleInstallation(const std::filesystem::path& root);

}  // namespace sorbantilex::offline
