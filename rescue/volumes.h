#pragma once

// The rescue system's view of the PC's disks: which partitions hold a
// Windows installation, in what state, and how one is mounted to be read or
// repaired. Every system program runs through `Commands`, so that the
// tests run the logic on fake disks.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorbantilex::rescue {

/// What a system program did.
struct CommandResult {
  /// Its exit code; -1 when it could not be started or was killed.
  int status = -1;
  /// Standard output and standard error together.
  std::string output;
};

/// How a program is run.
struct RunOptions {
  /// Killed after this long (status -1); zero: no bound.
  std::chrono::seconds time_limit{120};
  /// Standard input left to the program (the terminal); else /dev/null.
  bool keep_input = false;
  /// Its output is also copied here as it comes (the user watches it).
  std::ostream* shown = nullptr;
  /// LC_ALL=C, for the programs whose output is read (lsblk); false: the
  /// program gets this program's environment unchanged.
  bool plain_locale = true;
};

/// Runs system programs (lsblk, ntfs-3g, umount, ntfsrecover...): never
/// through a shell, each argument as given.
class Commands {
 public:
  Commands() = default;
  virtual ~Commands() = default;
  Commands(const Commands&) = delete;
  Commands& operator=(const Commands&) = delete;
  /// Runs with the default `RunOptions`.
  virtual CommandResult Run(const std::vector<std::string>& argv) = 0;
  /// Runs with options of its own; a fake that has no use for them answers
  /// as `Run` does.
  virtual CommandResult RunWith(const std::vector<std::string>& argv, const RunOptions& options) {
    (void)options;
    return Run(argv);
  }
};

/// The rescue system's own programs, started with posix_spawn (found
/// through PATH), their standard output and error read through one pipe
/// (the first MiB kept).
std::unique_ptr<Commands> SystemCommands();

/// A partition as lsblk lists it.
struct BlockDevice {
  std::string path;    // /dev/sda2
  std::string disk;    // the whole disk it is on: /dev/sda
  std::string fstype;  // "ntfs", "BitLocker", "vfat"...
  std::string label;
  std::uint64_t size = 0;  // bytes
  std::string mountpoint;  // where it is mounted now; empty: nowhere
};

/// The partitions in `lsblk --json --bytes --paths
/// --output NAME,TYPE,FSTYPE,LABEL,SIZE,PKNAME,MOUNTPOINT` output (disks and
/// loop devices left out; a partition inside them kept). Raises
/// std::runtime_error on output it cannot read.
std::vector<BlockDevice> ParseBlockDevices(std::string_view lsblk_json);

enum class VolumeState {
  kWindows,     // an NTFS volume holding a Windows installation
  kNoWindows,   // NTFS, but no Windows on it
  kBitLocker,   // encrypted with BitLocker: it cannot be read from here
  kUnreadable,  // NTFS that could not be mounted even read-only (`detail` says why)
};

/// Why Windows left the volume in use (ntfs-3g then mounts it read-only).
enum class Hibernation {
  kNone,
  kFastStartup,  // shut down with Fast Startup ("Inicio rápido")
  kHibernated,   // hibernated: the session's open work is in hiberfil.sys
};

/// A partition of the PC's disks that the rescue system can offer.
struct Volume {
  BlockDevice device;
  VolumeState state = VolumeState::kNoWindows;
  Hibernation hibernation = Hibernation::kNone;
  /// "Windows 10 Pro 22H2" (with its version where the registry gives
  /// it); empty when no Windows is there.
  std::string windows_version;
  /// Its build number, "19045"; empty when unknown.
  std::string windows_build;
  /// What the mount program said when it refused the volume.
  std::string detail;
};

/// Where the rescue system works.
struct Places {
  /// The folder the volumes are mounted under, one subfolder each.
  std::filesystem::path mount_base = "/run/sorbantilex/discos";
  /// The file whose mount says which medium the system booted from (live-
  /// boot mounts it at /run/live/medium); that medium's disk is left out.
  std::filesystem::path mounts = "/proc/self/mounts";
};

/// Every NTFS or BitLocker partition of the PC's disks, except the boot
/// medium's, each examined: NTFS ones are mounted read-only for a moment to
/// recognise Windows, its version and whether it is hibernated (one that is
/// mounted already is read where it is). Raises std::runtime_error when
/// lsblk fails or its output cannot be read.
std::vector<Volume> FindVolumes(Commands& commands, const Places& places = {});

/// A volume mounted by the rescue system, unmounted when this ends (after
/// the data is on the disk).
class Mount {
 public:
  enum class Mode {
    kReadOnly,
    kReadWrite,  // refused by ntfs-3g when Windows left the volume in use
    /// Read-write after deleting hiberfil.sys (ntfs-3g's remove_hiberfile):
    /// the hibernated session's unsaved work is lost.
    kReadWriteDroppingHibernation,
  };
  /// Mounts `device` (a path under /dev/) at a folder of its name under
  /// `places.mount_base` (made 0700; never through a link). Raises
  /// std::runtime_error with the program's message when it cannot, also
  /// when ntfs-3g, asked for read-write, fell back to read-only.
  static std::unique_ptr<Mount> Open(Commands& commands, const Places& places,
                                     const std::string& device, Mode mode);
  ~Mount();
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  const std::string& device() const { return device_; }
  /// Unmounts now (sync, umount, then waits until ntfs-3g has let the
  /// device go and removes the folder); false (with the message in
  /// `error`) when it could not. True when it was not mounted any more.
  bool Unmount(std::string* error = nullptr);

 private:
  Mount(Commands& commands, std::string device, std::filesystem::path folder);
  Commands& commands_;
  std::string device_;
  std::filesystem::path folder_;
  bool mounted_ = true;
};

/// The second way out of Fast Startup: replays what Windows committed to the
/// NTFS journal and drops the fast-restart state (ntfsrecover, then
/// ntfsrecover -k), each allowed `time_limit`; a journal that holds nothing
/// (ntfs-3g empties it when it unmounts) is left as it is. Raises
/// std::runtime_error with the program's message when either step fails.
/// The volume is then mounted with `kReadWriteDroppingHibernation`: the
/// hibernation file Windows left describes the disk as it was before, and
/// Windows would resume it over the repaired disk.
void RecoverJournal(Commands& commands, const std::string& device,
                    std::chrono::seconds time_limit = std::chrono::minutes(30));

/// Ends the rescue system: restarts or powers off the PC (after sync); the
/// caller's mounts must have ended first. Raises std::runtime_error with
/// systemctl's message when it refuses.
void Restart(Commands& commands);
void PowerOff(Commands& commands);

}  // namespace sorbantilex::rescue
