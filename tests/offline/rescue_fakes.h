#pragma once

// A PC's disks for the rescue system's tests: every program the rescue
// code runs answered from a table, ntfs-3g "mounting" a prepared folder's
// copy and umount emptying it again.

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "offline_test_support.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/sample.h"
#include "rescue/volumes.h"

namespace sorbantilex::offline::testing {

class FakeCommands final : public rescue::Commands {
 public:
  /// Answers by the whole command line, its words joined with spaces; a
  /// command not listed succeeds silently.
  std::map<std::string, rescue::CommandResult> answers;
  /// What a successful ntfs-3g of each device shows at the mount folder.
  std::map<std::string, fs::path> contents;
  /// Every command line run, in order.
  std::vector<std::string> calls;

  rescue::CommandResult Run(const std::vector<std::string>& argv) override {
    std::string line;
    for (const std::string& word : argv) line += (line.empty() ? "" : " ") + word;
    calls.push_back(line);
    const auto answer = answers.find(line);
    rescue::CommandResult result =
        answer != answers.end() ? answer->second : rescue::CommandResult{0, ""};
    if (result.status == 0 && argv.front() == "ntfs-3g" && argv.size() == 5) {
      const auto found = contents.find(argv[3]);
      if (found != contents.end()) {
        fs::copy(found->second, argv[4], fs::copy_options::recursive);
      }
    }
    if (result.status == 0 && argv.front() == "umount" && argv.size() == 2) {
      for (const auto& entry : fs::directory_iterator(argv[1])) fs::remove_all(entry.path());
    }
    return result;
  }
  rescue::CommandResult RunWith(const std::vector<std::string>& argv,
                                const rescue::RunOptions& options) override {
    rescue::CommandResult result = Run(argv);
    if (options.shown != nullptr) *options.shown << result.output;
    return result;
  }

  /// The command lines run that start with `prefix`.
  std::vector<std::string> CallsStarting(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
      if (call.rfind(prefix, 0) == 0) found.push_back(call);
    }
    return found;
  }
};

/// lsblk's answer listing `partitions` of one disk /dev/sdz, each
/// {path, fstype, label, size}.
struct FakePartition {
  std::string path;
  std::string fstype;
  std::string label;
  std::uint64_t size = 0;
};
inline std::string LsblkOf(const std::vector<FakePartition>& partitions) {
  std::string json = R"({"blockdevices": [{"name": "/dev/sdz", "type": "disk", "fstype": null,
    "label": null, "size": 512110190592, "pkname": null, "mountpoint": null, "children": [)";
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    const FakePartition& p = partitions[i];
    json += (i == 0 ? "" : ",") + std::string(R"({"name": ")") + p.path +
            R"(", "type": "part", "fstype": ")" + p.fstype + R"(", "label": ")" + p.label +
            R"(", "size": )" + std::to_string(p.size) +
            R"(, "pkname": "/dev/sdz", "mountpoint": null})";
  }
  return json + "]}]}";
}

inline const std::string kLsblkCommand =
    "lsblk --json --bytes --paths --output NAME,TYPE,FSTYPE,LABEL,SIZE,PKNAME,MOUNTPOINT";

/// A sample Windows installation in `folder` that says it is `product`
/// `display_version`, build `build`, with Fast Startup on or off; with
/// `hibernated`, a hiberfil.sys whose header says so.
inline void MakeWindowsTree(const fs::path& folder, const std::string& product,
                            const std::string& display_version, const std::string& build,
                            bool hiberboot, bool hibernated) {
  fs::create_directories(folder);
  MakeSampleInstallation(folder);
  const Installation installation = Installation::Find(folder, Installation::Use::kReport);
  Seed({installation.software(), installation.system(), {}, {}, folder}, [&](HiveRegistry& r) {
    constexpr std::string_view kVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    SetText(r, kHkeyLocalMachine, kVersion, "ProductName", kRegSz, product);
    SetText(r, kHkeyLocalMachine, kVersion, "DisplayVersion", kRegSz, display_version);
    SetText(r, kHkeyLocalMachine, kVersion, "CurrentBuild", kRegSz, build);
    CreatePath(r, kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power");
    SetDword(r, kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power",
             "HiberbootEnabled", hiberboot ? 1 : 0);
  });
  if (hibernated) {
    std::vector<std::uint8_t> header(4096, 0);
    header[0] = 'H';
    header[1] = 'I';
    header[2] = 'B';
    header[3] = 'R';
    WriteBytes(folder / "hiberfil.sys", header);
  }
}

}  // namespace sorbantilex::offline::testing
