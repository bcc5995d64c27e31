#include "platform/offline/installation/installation.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <functional>

#include "platform/offline/paths.h"
#include "platform/offline/safe_files.h"
#include "platform/offline/hive_file/utf16.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> WindowsFolder(const fs::path& root) {
  for (const char* name : {"Windows", "WINNT"}) {
    const auto folder = FindNoCase(root, name);
    if (!folder) continue;
    const auto config = ResolveNoCase(*folder, "System32\\config");
    std::error_code error;
    if (fs::is_directory(config, error)) return folder;
  }
  return std::nullopt;
}

// Whether the volume's hibernation file holds a hibernated system: its
// header then starts with "hibr" (any letter case).
bool Hibernated(const fs::path& root, fs::path* file) {
  const auto found = FindNoCase(root, "hiberfil.sys");
  if (!found) return false;
  *file = *found;
  // Only a regular file can hold a hibernated system; a FIFO or device at
  // that name is never opened (it could block the program).
  const OpenedFile opened = OpenRegularFile(*found, root);
  char head[4] = {};
  if (!opened || !ReadAt(opened.fd.get(), head, sizeof head, 0)) return false;
  const std::string signature = UpperName(std::string_view(head, 4));
  return signature == "HIBR";
}

// A path as Windows writes it ("C:\Users\Juan", "%SystemDrive%\Users\Juan")
// beneath the mounted partition root; nullopt for other drives.
std::optional<fs::path> OnPartition(const fs::path& root, std::string text) {
  for (const std::string_view variable : {"%SystemDrive%", "%SystemRoot%"}) {
    if (UpperName(text.substr(0, variable.size())) == UpperName(variable)) {
      text = (variable == "%SystemDrive%" ? std::string("C:") : std::string("C:\\Windows")) +
             text.substr(variable.size());
    }
  }
  while (!text.empty() && text.back() == '\0') text.pop_back();
  if (text.size() < 2 || text[1] != ':') return std::nullopt;
  return ResolveNoCase(root, text.substr(2));
}

}  // namespace

bool LooksLikeInstallation(const fs::path& folder) {
  const auto windows = WindowsFolder(folder);
  if (!windows) return false;
  std::error_code error;
  return fs::is_regular_file(ResolveNoCase(*windows, "System32\\config\\SOFTWARE"), error) &&
         fs::is_regular_file(ResolveNoCase(*windows, "System32\\config\\SYSTEM"), error);
}

Installation Installation::Find(const fs::path& root, Use use) {
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    const bool exists = fs::exists(fs::symlink_status(root, error));
    throw Error(ErrorKind::kNotAFolder, root, exists ? 0 : ENOENT);
  }
  Installation installation;
  installation.root_ = root;
  const auto windows = WindowsFolder(root);
  if (!windows) throw Error(ErrorKind::kNoWindowsFolder, root);
  installation.windows_folder_ = *windows;
  installation.software_ = ResolveNoCase(*windows, "System32\\config\\SOFTWARE");
  installation.system_ = ResolveNoCase(*windows, "System32\\config\\SYSTEM");
  for (const auto& hive : {installation.software_, installation.system_}) {
    // What stands there but is no regular file is refused when opened, with
    // what it is.
    if (fs::symlink_status(hive, error).type() == fs::file_type::not_found) {
      throw Error(ErrorKind::kInstallationIncomplete, hive);
    }
  }
  fs::path hiberfil;
  if (use == Use::kRepair && Hibernated(root, &hiberfil))
    throw Error(ErrorKind::kHibernated, hiberfil);
  return installation;
}

std::vector<Profile> Installation::Profiles(Hive* software) const {
  std::vector<Profile> profiles;
  auto add = [&](Profile profile) {
    std::error_code error;
    if (!fs::is_regular_file(profile.user_hive, error)) return;
    for (const auto& known : profiles) {
      if (fs::equivalent(known.user_hive, profile.user_hive, error)) return;
    }
    profiles.push_back(std::move(profile));
  };
  // The profiles Windows lists, with their SIDs.
  try {
    std::unique_ptr<Hive> opened;
    if (software == nullptr) opened = Hive::Open(software_, "SOFTWARE", false, root_);
    Hive* hive = software != nullptr ? software : opened.get();
    std::shared_ptr<HiveKey> key = hive->root();
    for (const char* part : {"Microsoft", "Windows NT", "CurrentVersion", "ProfileList"}) {
      if (!key || !hive->LoadChildren(*key)) {
        key = nullptr;
        break;
      }
      const auto found = key->children.find(UpperName(part));
      key = found == key->children.end() ? nullptr : found->second;
    }
    if (key && hive->LoadChildren(*key)) {
      for (const auto& [upper, entry] : key->children) {
        if (entry->name.rfind("S-1-5-21-", 0) != 0 || !hive->LoadValues(*entry)) continue;
        const HiveValue* image = entry->FindValue("ProfileImagePath");
        if (image == nullptr) continue;
        const auto folder = OnPartition(root_, Utf16LeToUtf8(image->data));
        if (!folder) continue;
        add(Profile{folder->filename().string(), entry->name,
                    ResolveNoCase(*folder, "NTUSER.DAT")});
      }
    }
  } catch (const Error&) {
    // SOFTWARE is refused later with its own error.
  }
  // Profile folders that Windows does not list (or a SOFTWARE hive without
  // the list).
  for (const char* parent : {"Users", "Documents and Settings"}) {
    const auto folder = FindNoCase(root_, parent);
    std::error_code error;
    if (!folder || !fs::is_directory(*folder, error)) continue;
    for (const auto& entry : fs::directory_iterator(*folder, error)) {
      const std::string name = entry.path().filename().string();
      const std::string upper = UpperName(name);
      if (upper == "DEFAULT" || upper == "DEFAULT USER" || upper == "PUBLIC" ||
          upper == "ALL USERS") {
        continue;
      }
      add(Profile{name, "", ResolveNoCase(entry.path(), "NTUSER.DAT")});
    }
  }
  return profiles;
}

std::vector<Profile> Installation::Select(const std::vector<std::string>& users,
                                          Hive* software) const {
  std::vector<Profile> profiles = Profiles(software);
  if (profiles.empty()) throw Error(ErrorKind::kNoProfile, root_);
  if (users.empty()) return profiles;
  std::vector<bool> chosen(profiles.size(), false);
  for (const std::string& user : users) {
    bool found = false;
    for (std::size_t i = 0; i < profiles.size(); ++i) {
      if (SameName(profiles[i].name, user) || SameName(profiles[i].sid, user)) {
        chosen[i] = true;
        found = true;
      }
    }
    if (!found) {
      std::string listed = user;
      for (const auto& profile : profiles) {
        listed += "\n" + profile.name;
        if (!profile.sid.empty()) listed += " (" + profile.sid + ")";
      }
      throw Error(ErrorKind::kProfileNotFound, root_, 0, std::move(listed));
    }
  }
  std::vector<Profile> selected;
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    if (chosen[i]) selected.push_back(std::move(profiles[i]));
  }
  return selected;
}

HivePaths Installation::Hives(const std::vector<Profile>& profiles) const {
  HivePaths paths{software_, system_, {}, {}, root_};
  for (const Profile& profile : profiles) {
    if (paths.user.empty()) {
      paths.user = profile.user_hive;
      paths.user_sid = profile.sid;
    } else {
      paths.more_users.push_back({profile.user_hive, profile.sid});
    }
  }
  return paths;
}

HivePaths Installation::Hives(std::string_view user, Hive* software) const {
  const auto profiles = Profiles(software);
  std::vector<const Profile*> chosen;
  for (const auto& profile : profiles) {
    if (user.empty() || SameName(profile.name, user) || SameName(profile.sid, user)) {
      chosen.push_back(&profile);
    }
  }
  if (chosen.size() != 1) {
    if (profiles.empty()) throw Error(ErrorKind::kNoProfile, root_);
    // One line each: the name asked for when none matched, then every profile.
    std::string listed = chosen.empty() ? std::string(user) + "\n" : std::string();
    for (const auto& profile : profiles) {
      if (&profile != &profiles.front()) listed += "\n";
      listed += profile.name;
      if (!profile.sid.empty()) listed += " (" + profile.sid + ")";
    }
    throw Error(chosen.empty() ? ErrorKind::kProfileNotFound : ErrorKind::kSeveralProfiles, root_,
                0, std::move(listed));
  }
  return HivePaths{software_, system_, chosen.front()->user_hive, chosen.front()->sid, root_};
}

std::vector<fs::path> MountedInstallations() {
  std::vector<fs::path> found;
  std::ifstream mounts("/proc/self/mounts");
  std::string device;
  std::string point;
  std::string rest;
  while (mounts >> device >> point && std::getline(mounts, rest)) {
    // Mount points escape spaces and tabs as octal.
    std::string decoded;
    for (std::size_t i = 0; i < point.size(); ++i) {
      if (point[i] == '\\' && i + 3 < point.size() &&
          std::isdigit(static_cast<unsigned char>(point[i + 1]))) {
        decoded += static_cast<char>(std::stoi(point.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        decoded += point[i];
      }
    }
    if (decoded.rfind("/proc", 0) == 0 || decoded.rfind("/sys", 0) == 0 ||
        decoded.rfind("/dev", 0) == 0) {
      continue;
    }
    if (LooksLikeInstallation(decoded)) found.emplace_back(decoded);
  }
  return found;
}

InstanceLock::InstanceLock(const Installation& installation) {
  const fs::path folder = installation.software().parent_path();
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    fd_ = fd;
    return;
  }
  another_ = errno == EWOULDBLOCK;
  ::close(fd);
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace sorbantilex::offline
