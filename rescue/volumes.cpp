// The PC's volumes: found with lsblk, examined through a read-only ntfs-3g
// mount, mounted for repair. Nothing here writes to a volume but a mount
// the caller asked to be read-write.

#include "rescue/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/offline/error.h"
#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/installation.h"
#include "registry/key_names.h"

namespace sorbantilex::rescue {
namespace {

namespace fs = std::filesystem;

// ntfs-3g.probe's exit codes that mean Windows left the volume in use.
constexpr int kProbeHibernated = 14;
constexpr int kProbeUncleanUnmount = 15;  // "Metadata kept in Windows cache": Fast Startup

// What ntfsrecover says of a journal that holds nothing.
constexpr std::string_view kEmptyJournal = "The log file has been wiped out";

constexpr std::string_view kLiveMedium = "/run/live/medium";

std::string Trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

std::string Failure(const std::string& program, const CommandResult& result) {
  std::string output = Trimmed(result.output);
  if (!output.empty()) return output;
  return program + (result.status < 0 ? " could not be run"
                                      : " ended with status " + std::to_string(result.status));
}

// A field of /proc/self/mounts, its spaces and tabs written as octal.
std::string Unoctal(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// The devices the system booted from: the one mounted at live-boot's
// medium folder, and any mounted ISO 9660 image.
std::set<std::string> BootDevices(const fs::path& mounts_file) {
  std::set<std::string> devices;
  std::ifstream mounts(mounts_file);
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device;
    std::string point;
    std::string type;
    if (!(fields >> device >> point >> type)) continue;
    if (Unoctal(point) == kLiveMedium || type == "iso9660") {
      const std::string name = Unoctal(device);
      devices.insert(name);
      // /dev/disk/by-label/... and other links: the device they name.
      std::error_code error;
      const fs::path real = fs::canonical(name, error);
      if (!error) devices.insert(real.string());
    }
  }
  return devices;
}

std::optional<std::string> ReadText(RegistryApi& registry, std::string_view path,
                                    std::string_view name, std::uint32_t* type = nullptr) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(kHkeyLocalMachine, path, 0, kKeyRead, &key) != kErrorSuccess) {
    return std::nullopt;
  }
  std::uint32_t value_type = 0;
  std::uint32_t size = 0;
  std::optional<std::string> text;
  if (registry.QueryValue(key, name, &value_type, nullptr, &size) == kErrorSuccess) {
    std::vector<std::uint8_t> data(size);
    if (registry.QueryValue(key, name, &value_type, data.data(), &size) == kErrorSuccess) {
      data.resize(size);
      text.emplace(data.begin(), data.end());
      if (type != nullptr) *type = value_type;
    }
  }
  registry.CloseKey(key);
  if (text && (value_type == kRegSz || value_type == kRegExpandSz)) {
    while (!text->empty() && text->back() == '\0') text->pop_back();
  }
  return text;
}

struct WindowsFacts {
  std::string version;
  std::string build;
  bool hiberboot = false;
};

// The version and whether Fast Startup is on, from the hives; what cannot
// be read stays unknown.
WindowsFacts ReadFacts(const offline::Installation& installation) {
  WindowsFacts facts;
  try {
    offline::HiveRegistry registry(
        {installation.software(), installation.system(), {}, {}, installation.root()},
        /*for_writing=*/false);
    constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    const std::string product = ReadText(registry, kCurrentVersion, "ProductName").value_or("");
    std::string release = ReadText(registry, kCurrentVersion, "DisplayVersion").value_or("");
    if (release.empty()) release = ReadText(registry, kCurrentVersion, "ReleaseId").value_or("");
    facts.build = ReadText(registry, kCurrentVersion, "CurrentBuild").value_or("");
    facts.version = product.empty() ? "Windows" : product;
    // Windows 11 still calls itself "Windows 10" in ProductName; its builds
    // start at 22000.
    if (facts.version.rfind("Windows 10", 0) == 0 && !facts.build.empty() &&
        facts.build.size() <= 9 &&
        facts.build.find_first_not_of("0123456789") == std::string::npos &&
        std::stoul(facts.build) >= 22000) {
      facts.version.replace(0, 10, "Windows 11");
    }
    if (!release.empty()) facts.version += " " + release;
    std::uint32_t type = 0;
    const auto hiberboot =
        ReadText(registry, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power",
                 "HiberbootEnabled", &type);
    facts.hiberboot = hiberboot && type == kRegDword && hiberboot->size() == 4 &&
                      static_cast<unsigned char>((*hiberboot)[0]) == 1 && (*hiberboot)[1] == 0 &&
                      (*hiberboot)[2] == 0 && (*hiberboot)[3] == 0;
  } catch (const std::exception&) {
    if (facts.version.empty()) facts.version = "Windows";
  }
  return facts;
}

// Whether hiberfil.sys at the volume's root holds a hibernated system.
bool HiberfilSaysHibernated(const fs::path& root) {
  try {
    offline::Installation::Find(root, offline::Installation::Use::kRepair);
  } catch (const offline::Error& error) {
    return error.kind() == offline::ErrorKind::kHibernated;
  }
  return false;
}

// What a mounted NTFS volume holds.
void Examine(const fs::path& root, bool probe_says_in_use, Volume* volume) {
  std::error_code error;
  if (!offline::LooksLikeInstallation(root)) {
    volume->state = VolumeState::kNoWindows;
    if (probe_says_in_use) volume->hibernation = Hibernation::kHibernated;
    return;
  }
  volume->state = VolumeState::kWindows;
  const offline::Installation installation =
      offline::Installation::Find(root, offline::Installation::Use::kReport);
  const WindowsFacts facts = ReadFacts(installation);
  volume->windows_version = facts.version;
  volume->windows_build = facts.build;
  if (probe_says_in_use || HiberfilSaysHibernated(root)) {
    volume->hibernation = facts.hiberboot ? Hibernation::kFastStartup : Hibernation::kHibernated;
  }
}

Volume ExamineNtfs(Commands& commands, const Places& places, const BlockDevice& device) {
  Volume volume;
  volume.device = device;
  if (!device.mountpoint.empty()) {
    // Mounted already (by hand, or by a desktop): read where it is.
    try {
      Examine(device.mountpoint, false, &volume);
    } catch (const std::exception& error) {
      volume.state = VolumeState::kUnreadable;
      volume.detail = error.what();
    }
    return volume;
  }
  const CommandResult probe = commands.Run({"ntfs-3g.probe", "--readwrite", device.path});
  const bool in_use = probe.status == kProbeHibernated || probe.status == kProbeUncleanUnmount;
  std::unique_ptr<Mount> mount;
  try {
    mount = Mount::Open(commands, places, device.path, Mount::Mode::kReadOnly);
  } catch (const std::exception& error) {
    volume.state = VolumeState::kUnreadable;
    volume.detail = error.what();
    return volume;
  }
  try {
    Examine(mount->folder(), in_use, &volume);
  } catch (const std::exception& error) {
    volume.state = VolumeState::kUnreadable;
    volume.detail = error.what();
  }
  mount->Unmount();
  return volume;
}

bool SameText(std::string_view a, std::string_view b) { return SameName(a, b); }

// Makes `folder` (mode 0700) unless it is there as a folder; refuses a link
// or anything else standing there.
void MakePrivateFolder(const fs::path& folder) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(folder, error);
  if (fs::is_symlink(status)) {
    throw std::runtime_error("refused: " + folder.string() + " is a symbolic link");
  }
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      throw std::runtime_error("refused: " + folder.string() + " is not a folder");
    }
    return;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("mkdir " + folder.string() + ": " + std::strerror(errno));
  }
}

bool ReadOnlyMount(const fs::path& folder) {
  struct statvfs info {};
  return ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY) != 0;
}

void Shutdown(Commands& commands, const std::string& how) {
  commands.Run({"sync"});
  const CommandResult result = commands.Run({"systemctl", how});
  if (result.status != 0) throw std::runtime_error(Failure("systemctl", result));
}

}  // namespace

std::vector<Volume> FindVolumes(Commands& commands, const Places& places) {
  const CommandResult listed = commands.Run({"lsblk", "--json", "--bytes", "--paths", "--output",
                                             "NAME,TYPE,FSTYPE,LABEL,SIZE,PKNAME,MOUNTPOINT"});
  if (listed.status != 0) throw std::runtime_error(Failure("lsblk", listed));
  const std::vector<BlockDevice> devices = ParseBlockDevices(listed.output);

  const std::set<std::string> boot_devices = BootDevices(places.mounts);
  std::set<std::string> boot_disks;
  for (const BlockDevice& device : devices) {
    if (boot_devices.count(device.path) != 0 || boot_devices.count(device.disk) != 0 ||
        device.mountpoint == kLiveMedium ||
        (SameText(device.fstype, "iso9660") && !device.mountpoint.empty())) {
      boot_disks.insert(device.disk);
    }
  }
  boot_disks.insert(boot_devices.begin(), boot_devices.end());

  std::vector<Volume> volumes;
  for (const BlockDevice& device : devices) {
    if (boot_disks.count(device.disk) != 0 || boot_disks.count(device.path) != 0) continue;
    if (SameText(device.fstype, "BitLocker")) {
      Volume volume;
      volume.device = device;
      volume.state = VolumeState::kBitLocker;
      volumes.push_back(std::move(volume));
    } else if (SameText(device.fstype, "ntfs")) {
      volumes.push_back(ExamineNtfs(commands, places, device));
    }
  }
  return volumes;
}

std::unique_ptr<Mount> Mount::Open(Commands& commands, const Places& places,
                                   const std::string& device, Mode mode) {
  const fs::path device_path = fs::path(device).lexically_normal();
  if (device.rfind("/dev/", 0) != 0 || device_path.string().rfind("/dev/", 0) != 0 ||
      device_path.filename().empty()) {
    throw std::runtime_error("refused: " + device + " is not a device under /dev/");
  }
  MakePrivateFolder(places.mount_base.parent_path());
  MakePrivateFolder(places.mount_base);
  const fs::path folder = places.mount_base / device_path.filename();
  MakePrivateFolder(folder);
  std::error_code error;
  if (!fs::is_empty(folder, error)) {
    throw std::runtime_error("refused: " + folder.string() + " is not empty (mounted already?)");
  }

  std::string options;
  switch (mode) {
    case Mode::kReadOnly:
      options = "ro";
      break;
    case Mode::kReadWrite:
      options = "rw";
      break;
    case Mode::kReadWriteDroppingHibernation:
      options = "rw,remove_hiberfile";
      break;
  }
  options += ",nodev,nosuid,noexec";
  const CommandResult result =
      commands.Run({"ntfs-3g", "-o", options, device_path.string(), folder.string()});
  if (result.status != 0) {
    ::rmdir(folder.c_str());
    throw std::runtime_error(Failure("ntfs-3g", result));
  }
  std::unique_ptr<Mount> mount(new Mount(commands, device_path.string(), folder));
  // ntfs-3g mounts a volume Windows left in use read-only, though asked
  // for read-write, and says so.
  if (mode != Mode::kReadOnly && ReadOnlyMount(folder)) {
    mount->Unmount();
    std::string why = Trimmed(result.output);
    throw std::runtime_error(why.empty() ? "ntfs-3g mounted " + device + " read-only" : why);
  }
  return mount;
}

Mount::Mount(Commands& commands, std::string device, fs::path folder)
    : commands_(commands), device_(std::move(device)), folder_(std::move(folder)) {}

Mount::~Mount() {
  try {
    Unmount();
  } catch (...) {
    // Left mounted; the system's shutdown unmounts it.
  }
}

bool Mount::Unmount(std::string* error) {
  if (!mounted_) return true;
  commands_.Run({"sync"});
  const CommandResult result = commands_.Run({"umount", folder_.string()});
  if (result.status != 0) {
    if (error != nullptr) *error = Failure("umount", result);
    return false;
  }
  mounted_ = false;
  // umount returns before ntfs-3g has written its last changes and let the
  // device go; it holds a device it writes to exclusively.
  for (int tries = 0; tries < 600; ++tries) {
    const int fd = ::open(device_.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    if (errno != EBUSY) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::rmdir(folder_.c_str());
  return true;
}

void RecoverJournal(Commands& commands, const std::string& device,
                    std::chrono::seconds time_limit) {
  RunOptions options;
  options.time_limit = time_limit;
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{"ntfsrecover", device},
        std::vector<std::string>{"ntfsrecover", "-k", device}}) {
    const CommandResult result = commands.RunWith(argv, options);
    // A journal ntfs-3g or mkntfs left empty holds nothing to replay or
    // drop; ntfsrecover says so and ends with 1.
    const bool empty_journal =
        result.status == 1 && result.output.find(kEmptyJournal) != std::string::npos;
    if (result.status != 0 && !empty_journal) {
      throw std::runtime_error(Failure("ntfsrecover", result));
    }
  }
}

void Restart(Commands& commands) { Shutdown(commands, "reboot"); }
void PowerOff(Commands& commands) { Shutdown(commands, "poweroff"); }

}  // namespace sorbantilex::rescue
