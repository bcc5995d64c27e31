#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/memory_registry.h"
#include "platform/offline/installation/hive_registry.h"
#include "snapshot_printer.h"

namespace sorbantilex::offline {

// Errors print as their log line in test failures.
inline std::ostream& operator<<(std::ostream& out, const Error& error) {
  return out << error.what();
}

}  // namespace sorbantilex::offline

namespace sorbantilex::offline::testing {

namespace fs = std::filesystem;

namespace {

// Rows of case tables print as their names.
template <typename Case>
requires requires(const Case& c) { std::string_view(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

}  // namespace

/// A fresh folder under the system's temporary folder, removed with
/// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<std::uint8_t> ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);

/// Every file under `folder` with its bytes, for byte-identical checks (a
/// file over 64 MiB by its size and modification time).
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> FolderContents(
    const fs::path& folder);

/// Blank SOFTWARE, SYSTEM and NTUSER.DAT in `folder` (made by our own blank
/// hive writer): SYSTEM with Select\Current = 1 and ControlSet001, the user
/// hive with Software, SOFTWARE with Microsoft.
HivePaths MakeHives(const fs::path& folder, std::uint32_t minor_version = 5);

/// Opens the hives for writing, lets `fill` change them, and commits
/// without backups.
void Seed(const HivePaths& paths, const std::function<void(HiveRegistry&)>& fill);

/// Helpers over the nine operations (statuses checked by the caller's test).
void CreatePath(RegistryApi& registry, KeyRef root, std::string_view path);
void SetText(RegistryApi& registry, KeyRef root, std::string_view path, std::string_view name,
             std::uint32_t type, std::string_view text);
void SetDword(RegistryApi& registry, KeyRef root, std::string_view path, std::string_view name,
              std::uint32_t value);
/// The value's type and data, or nullopt when it cannot be read.
std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> Query(RegistryApi& registry,
                                                                         KeyRef root,
                                                                         std::string_view path,
                                                                         std::string_view name);

/// The whole key as the store shows it, in the form the in-memory registry
/// gives, or nullopt when it does not exist.
std::optional<KeySnapshot> Snapshot(HiveRegistry& registry, KeyRef root, std::string_view path);

/// Where two snapshots first differ ("" when they are equal), for messages.
std::string FirstDifference(const std::optional<KeySnapshot>& a,
                            const std::optional<KeySnapshot>& b, const std::string& path = "");

/// Lines `reglookup` prints for the hive (independent readback); none when
/// nothing is there under `prefix` or the tool is missing.
std::vector<std::string> Reglookup(const fs::path& hive, std::string_view prefix);

/// True when `reglookup` is installed. A test that reads back through it
/// skips, saying so, where it is not.
bool HaveReglookup();
#define SORBANTILEX_SKIP_WITHOUT_REGLOOKUP()             \
  if (!::sorbantilex::offline::testing::HaveReglookup()) \
  GTEST_SKIP() << "reglookup is not installed: the hive is not read back by another reader"

/// Ways to damage a key's subkey list in a hive file.
enum class ListDamage {
  kSignature,   // the list's signature is no list signature
  kFirstEntry,  // its first entry points outside the file
};

/// Damages the subkey list of the key at `key_path` (backslash-separated,
/// beneath the hive's root) in the file. Raises std::runtime_error when the
/// key or its list is not there.
void DamageSubkeyList(const fs::path& hive, std::string_view key_path, ListDamage damage);

/// The folder of the real hives, or empty when it is absent.
fs::path RealHivesFolder();

std::vector<std::uint8_t> Bytes(std::string_view text);

/// What a shell command printed on standard output and how it ended (-1
/// when it did not exit by itself).
struct CommandResult {
  int status = -1;
  std::string output;
};
/// Runs `command` through the shell with no standard input.
CommandResult RunShell(const std::string& command);

/// The `Error` that `work` raises; nullopt when it raises none.
inline std::optional<Error> ErrorFrom(const std::function<void()>& work) {
  try {
    work();
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

}  // namespace sorbantilex::offline::testing
