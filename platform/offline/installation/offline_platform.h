#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/commit.h"
#include "registry/registry_api.h"
#include "registry/token.h"
#include "tasks/automation.h"
#include "tasks/files.h"
#include "tasks/system_info.h"

namespace sorbantilex::offline {

/// A file the run replaces (when the commit succeeds; in a dry run, would
/// replace).
struct FileChange {
  std::string windows_path;    // as the repair named it
  std::filesystem::path path;  // where it lies in the mounted folder
  std::vector<std::uint8_t> content;
};

/// The installation's files. Windows paths on the system drive ("C:\...")
/// are found beneath the mounted folder, each component matched without
/// regard to letter case. The read-only, hidden and system attributes come
/// from ntfs-3g's "system.ntfs_attrib_be" attribute where the file has one,
/// else from the mode bits (read-only when no write bit is set).
class OfflineFiles final : public Files {
 public:
  /// `root` is the mounted partition of drive `system_drive` ("C:"). With
  /// `dry_run` every check is made but nothing is written.
  OfflineFiles(std::filesystem::path root, std::string system_drive, bool dry_run)
      : root_(std::move(root)), system_drive_(std::move(system_drive)), dry_run_(dry_run) {}

  bool IsPlainFile(std::string_view path) const override;
  /// Checks that the file can be replaced and keeps the new content for the
  /// commit at the end of the run (see `Pending`), which writes it with the
  /// hives, all or none. Raises `Failure`: 3 a missing folder or another
  /// drive, 5 a read-only file or folder, a link leading out of the
  /// installation, anything but a regular file; such a file still goes to
  /// the commit, which then writes nothing. In a dry run on a read-only
  /// volume the volume's and folder's write permission are not checked.
  void WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) override;

  /// The files this run replaces, for `HiveRegistry::Commit`; none in a dry
  /// run.
  std::vector<std::unique_ptr<PendingFile>> Pending() const;

  /// The mounted path a Windows path stands for; nullopt for another drive.
  std::optional<std::filesystem::path> Map(std::string_view windows_path) const;
  const std::vector<FileChange>& changes() const { return changes_; }

 private:
  std::filesystem::path root_;
  std::string system_drive_;
  bool dry_run_;
  std::vector<FileChange> changes_;
  struct Staged {
    std::vector<std::uint8_t> content;
    std::optional<Error> refusal;  // why it cannot be written; nullopt when it can
  };
  std::map<std::filesystem::path, Staged> staged_;
};

/// Windows file attributes as the program reads them.
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kFileAttributeHidden = 0x2;
inline constexpr std::uint32_t kFileAttributeSystem = 0x4;

/// The attributes of a file in the mounted folder (see `OfflineFiles`).
std::uint32_t FileAttributes(const std::filesystem::path& path);

/// What the program reads of the installation's system, through its
/// registry: "OS" and the other variables of the system environment
/// (SYSTEM\CurrentControlSet\Control\Session Manager\Environment),
/// "systemroot" (SOFTWARE\Microsoft\Windows NT\CurrentVersion\SystemRoot),
/// the version (CurrentMajorVersionNumber and CurrentMinorVersionNumber, 0
/// when it is missing, else CurrentVersion), which is also the real version.
/// The Windows directory is the installation's own SystemRoot text (such as
/// "C:\WINDOWS"); `OfflineFiles` maps it onto the mounted folder.
class OfflineSystemInfo final : public SystemInfo {
 public:
  explicit OfflineSystemInfo(RegistryApi& registry) : registry_(registry) {}
  std::optional<std::string> Environment(std::string_view name) const override;
  std::string WindowsDirectory() const override;
  bool Version(std::uint32_t* major, std::uint32_t* minor) const override;

 private:
  RegistryApi& registry_;
};

/// WMI as the installation would answer it: `Win32_Service` instances are
/// the service keys under SYSTEM\CurrentControlSet\Services (one instance
/// per key whose name matches the query); StartService and StopService
/// change nothing (a system that is not running has no service to start)
/// and answer 0; `StdRegProv.SetBinaryValue` writes into the registry.
/// Each call is written down in `calls`.
class OfflineWmi final : public Wmi {
 public:
  explicit OfflineWmi(RegistryApi& registry) : registry_(registry) {}
  std::unique_ptr<AutomationObject> BindMoniker(std::string_view moniker) override;

  std::vector<std::string> calls;

 private:
  RegistryApi& registry_;
};

/// The process token of a program that works on files: every privilege
/// exists and enabling it succeeds.
class OfflineToken final : public Token {
 public:
  HandleRef CurrentProcess() override { return static_cast<HandleRef>(-1); }
  bool OpenProcessToken(HandleRef process, std::uint32_t access, HandleRef* token) override;
  bool LookupPrivilege(std::string_view name, Luid* luid) override;
  bool AdjustPrivileges(HandleRef token, bool disable_all,
                        const TokenPrivileges& new_state) override;
  bool CloseHandle(HandleRef handle) override;
  std::uint32_t LastError() const override { return last_error_; }

 private:
  std::uint32_t last_error_ = 0;
};

}  // namespace sorbantilex::offline
