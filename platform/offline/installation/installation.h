#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/installation/hive_registry.h"

namespace sorbantilex::offline {

/// A user profile of the installation.
struct Profile {
  std::string name;                 // the profile folder's name, e.g. "Juan"
  std::string sid;                  // empty when found by folder only
  std::filesystem::path user_hive;  // its NTUSER.DAT
};

/// A Windows installation mounted at a folder: the partition root that holds
/// the Windows folder and the profiles.
class Installation {
 public:
  /// What the installation is opened for.
  enum class Use {
    kRepair,  // may be written
    kReport,  // only read: a hibernated volume is examined all the same
  };
  /// Examines the folder. Raises Error (nothing written) when it
  /// holds no Windows folder with SOFTWARE and SYSTEM hives, or, for
  /// repair, when Windows left the volume hibernated (hibernation or Fast
  /// Startup).
  static Installation Find(const std::filesystem::path& root, Use use = Use::kRepair);

  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& windows_folder() const { return windows_folder_; }
  const std::filesystem::path& software() const { return software_; }
  const std::filesystem::path& system() const { return system_; }

  /// The profiles with a user hive: those SOFTWARE's ProfileList names on
  /// the installation's drive, else the folders under Users and Documents
  /// and Settings. A profile whose NTUSER.DAT is missing is left out; one
  /// whose folder leads out of the installation is refused when its hive
  /// is opened.
  /// `software`, when given, is the SOFTWARE hive already opened.
  std::vector<Profile> Profiles(Hive* software = nullptr) const;

  /// The hives for HKEY_CURRENT_USER of the profile named `user` (folder
  /// name or SID, letter case ignored); with `user` empty, the only profile.
  /// Raises Error (kNoProfile, kProfileNotFound, kSeveralProfiles) listing
  /// the profiles when none or several match.
  HivePaths Hives(std::string_view user, Hive* software = nullptr) const;

  /// The profiles `users` name (folder name or SID, letter case ignored),
  /// each once, in the order found; with `users` empty, every profile.
  /// Raises Error kNoProfile when there is none, kProfileNotFound (the name,
  /// then every profile) for a name that matches none.
  std::vector<Profile> Select(const std::vector<std::string>& users,
                              Hive* software = nullptr) const;
  /// The hives with HKEY_CURRENT_USER switchable among `profiles` (the first
  /// one current).
  HivePaths Hives(const std::vector<Profile>& profiles) const;

 private:
  std::filesystem::path root_;
  std::filesystem::path windows_folder_;
  std::filesystem::path software_;
  std::filesystem::path system_;
};

/// Mount points of the running system that hold a Windows installation
/// (read from /proc/self/mounts).
std::vector<std::filesystem::path> MountedInstallations();

/// True when `folder` holds a Windows folder with its SOFTWARE and SYSTEM
/// hives.
bool LooksLikeInstallation(const std::filesystem::path& folder);

/// Held while this program works on an installation; a second program on
/// the same installation cannot take it, whatever path, bind mount,
/// temporary folder or user it comes with. The lock is on the installation's
/// config folder itself (flock, so by its device and inode), leaves no file
/// behind and ends with the program however the program ends. Where the
/// folder cannot be locked at all (it cannot be opened, or its file system
/// has no locks), nothing shows another program and the lock counts as held.
class InstanceLock {
 public:
  explicit InstanceLock(const Installation& installation);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  /// False when another instance holds the lock.
  bool held() const { return !another_; }

 private:
  int fd_ = -1;
  bool another_ = false;
};

}  // namespace sorbantilex::offline
