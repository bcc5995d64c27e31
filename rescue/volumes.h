#pragma once

// The rescue system's view of the PC's disks: which partitions hold a
// Windows installation, in what state, and how one is mounted to be read or
// repaired. Every system program runs through `Commands`, so that the
// tests run the logic on fake disks.

#include <cstdint>
#include <filesystem>
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

/// Runs system programs (lsblk, ntfs-3g, umount, ntfsrecover...): never
/// through a shell, each argument as given.
class Commands {
 public:
  Commands() = default;
  virtual ~Commands() = default;
  Commands(const Commands&) = delete;
  Commands& operator=(const Commands&) = delete;
  virtual CommandResult Run(const std::vector<std::string>& argv) = 0;
};

/// The rescue system's own programs, run with fork and exec.
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
  /// "Windows 10 Pro" (with its version and build where the registry
  /// gives them); empty when no Windows is there.
  std::string windows_version;
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
/// recognise Windows, its version and whether it is hibernated.
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
  /// Mounts `device` under `places.mount_base`. Raises std::runtime_error
  /// with the program's message when it cannot.
  static std::unique_ptr<Mount> Open(Commands& commands, const Places& places,
                                     const std::string& device, Mode mode);
  ~Mount();
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  /// Unmounts now; false (with the message in `error`) when it could not.
  bool Unmount(std::string* error = nullptr);

 private:
  Mount(Commands& commands, std::filesystem::path folder);
  Commands& commands_;
  std::filesystem::path folder_;
  bool mounted_ = true;
};

/// The second way out of Fast Startup: replays what Windows committed to the
/// NTFS journal and drops the fast-restart state (ntfsrecover, then
/// ntfsrecover -k). Raises std::runtime_error with the program's message
/// when either step fails.
void RecoverJournal(Commands& commands, const std::string& device);

/// Ends the rescue system: unmounts what it mounted, then restarts or powers
/// off the PC.
void Restart(Commands& commands);
void PowerOff(Commands& commands);

}  // namespace sorbantilex::rescue
