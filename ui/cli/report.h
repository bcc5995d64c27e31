#pragma once

// The report (--informe): what each repair of the catalogue would change on
// an installation, per profile, with nothing written.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/task_catalog.h"
#include "platform/offline/installation/installation.h"
#include "registry/reg_file.h"

namespace sorbantilex::cli {

/// One thing a repair would change.
struct Finding {
  enum class Kind { kKeyDeleted, kKeyCreated, kValueWritten, kValueDeleted, kFileWritten };
  Kind kind = Kind::kValueWritten;
  /// The profile whose HKEY_CURRENT_USER it is in; nullopt: the machine's.
  std::optional<std::string> profile;
  /// "HKLM\\SOFTWARE\\...", "HKCU\\..."; for a file, its Windows path.
  std::string key;
  /// The value's name; nullopt for a whole key or a file.
  std::optional<std::string> value;
  std::optional<RegFileValue> before;  // the value as it is (none: absent)
  std::optional<RegFileValue> after;   // as the repair would leave it (none: deleted)
  std::vector<RegFileValue> values;    // a key to be deleted: its values
  std::size_t subkeys = 0;             // a key to be deleted: the keys beneath it
  /// The hive file that holds the key, or the file itself.
  std::filesystem::path file;
  std::optional<std::vector<std::uint8_t>> file_before;  // a file: its bytes now (none: absent)
  std::vector<std::uint8_t> file_after;                  // a file: as it would be written
};

/// What one repair would change.
struct RepairReport {
  const Step* step = nullptr;
  std::vector<Finding> findings;
  /// Why it could not be examined (for the machine or a profile), in Spanish.
  std::vector<std::string> errors;
};

/// The report of one installation.
struct InstallationReport {
  std::filesystem::path root;
  std::vector<offline::Profile> profiles;
  std::vector<RepairReport> repairs;  // in the catalogue's order
  std::vector<std::string> notices;   // hives recovered from their logs, in Spanish
  std::optional<std::string> error;   // why it could not be examined at all, in Spanish
  bool failed() const;
};

/// Opens the installation for reading only (no lock, nothing written; a
/// read-only mount or a hibernated volume will do) with the profiles `users`
/// names (every profile when empty), and runs every repair of the catalogue
/// on it as a dry run, in the order --all runs them, those that change
/// HKEY_CURRENT_USER once per profile. A finding is what a repair leaves
/// different from how it found it (see `Journal::NetChanges`): a value it
/// would write with the data it has, or a key it would delete and make again
/// as it was, is none; so once a repair has run, it finds nothing. What an
/// earlier repair would already change is found under it alone. The
/// home-page dialog is taken as answered with its initial address.
InstallationReport Survey(const std::filesystem::path& root, const std::vector<std::string>& users);

/// The report as text, in Spanish: per installation, each repair with its
/// --task key, its findings for the machine and per profile ("nada que
/// reparar" where it finds nothing).
void PrintReport(const std::vector<InstallationReport>& reports, std::ostream& out);

/// The report as one JSON document (see the manual page for its fields).
void PrintReportJson(const std::vector<InstallationReport>& reports, std::ostream& out);

/// A JSON string literal of `text`: quotes, backslashes and control
/// characters escaped; each byte that is not part of valid UTF-8, and each
/// lone surrogate, becomes U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace sorbantilex::cli
