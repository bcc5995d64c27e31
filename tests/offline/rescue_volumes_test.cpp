// The rescue system's view of the disks, on fake disks: lsblk's output read,
// each volume classified, the boot medium left out, nothing mounted but
// read-only while looking; and the programs run for real by SystemCommands.

#include <chrono>
#include <fstream>
#include <sstream>

#include "rescue/volumes.h"
#include "rescue_fakes.h"

namespace sorbantilex::offline::testing {
namespace {

using rescue::BlockDevice;
using rescue::Hibernation;
using rescue::Volume;
using rescue::VolumeState;

std::vector<std::string> Lines(const std::vector<BlockDevice>& devices) {
  std::vector<std::string> lines;
  for (const BlockDevice& d : devices) {
    lines.push_back(d.path + " disk=" + d.disk + " " + d.fstype + " «" + d.label + "» " +
                    std::to_string(d.size) + " @" + d.mountpoint);
  }
  return lines;
}

struct LsblkCase {
  const char* name;
  const char* json;
  std::vector<std::string> expected;
};

TEST(ParseBlockDevices, ReadsTheShapesLsblkWrites) {
  const LsblkCase cases[] = {
      {"a Windows disk: EFI, MSR without a file system, Windows, recovery (util-linux 2.38)",
       R"({
   "blockdevices": [
      {"name": "/dev/sda", "type": "disk", "fstype": null, "label": null, "size": 256060514304,
       "pkname": null, "mountpoint": null,
         "children": [
            {"name": "/dev/sda1", "type": "part", "fstype": "vfat", "label": null,
             "size": 104857600, "pkname": "/dev/sda", "mountpoint": null},
            {"name": "/dev/sda2", "type": "part", "fstype": null, "label": null,
             "size": 16777216, "pkname": "/dev/sda", "mountpoint": null},
            {"name": "/dev/sda3", "type": "part", "fstype": "ntfs", "label": "Windows",
             "size": 255013830656, "pkname": "/dev/sda", "mountpoint": null},
            {"name": "/dev/sda4", "type": "part", "fstype": "ntfs", "label": "Recuperaci\u00f3n",
             "size": 924844032, "pkname": "/dev/sda", "mountpoint": null}
         ]
      }
   ]
})",
       {"/dev/sda1 disk=/dev/sda vfat «» 104857600 @", "/dev/sda2 disk=/dev/sda  «» 16777216 @",
        "/dev/sda3 disk=/dev/sda ntfs «Windows» 255013830656 @",
        "/dev/sda4 disk=/dev/sda ntfs «Recuperación» 924844032 @"}},
      {"BitLocker; an older lsblk with sizes as text and a label's space as \\x20",
       R"({"blockdevices": [{"name": "/dev/sdb", "type": "disk", "fstype": null,
          "label": null, "size": "1000204886016", "pkname": null, "mountpoint": null,
          "children": [{"name": "/dev/sdb1", "type": "part", "fstype": "BitLocker",
          "label": "Mis\\x20datos \"2\"", "size": "1000202043392", "mountpoint": null}]}]})",
       {"/dev/sdb1 disk=/dev/sdb BitLocker «Mis datos \"2\"» 1000202043392 @"}},
      {"the live USB (a hybrid ISO) and its squashfs loop device",
       R"({"blockdevices": [
          {"name": "/dev/loop0", "type": "loop", "fstype": "squashfs", "label": null,
           "size": 2837839872, "pkname": null, "mountpoint": "/run/live/rootfs/filesystem.squashfs"},
          {"name": "/dev/sdc", "type": "disk", "fstype": "iso9660", "label": "d-live 12.5.0 st amd64",
           "size": 15376318464, "pkname": null, "mountpoint": null,
           "children": [
              {"name": "/dev/sdc1", "type": "part", "fstype": "iso9660",
               "label": "d-live 12.5.0 st amd64", "size": 3160408064, "pkname": "/dev/sdc",
               "mountpoint": "/run/live/medium"},
              {"name": "/dev/sdc2", "type": "part", "fstype": "vfat", "label": "d-live 12.5.0 st amd64",
               "size": 4194304, "pkname": "/dev/sdc", "mountpoint": null}]}]})",
       {"/dev/sdc1 disk=/dev/sdc iso9660 «d-live 12.5.0 st amd64» 3160408064 @/run/live/medium",
        "/dev/sdc2 disk=/dev/sdc vfat «d-live 12.5.0 st amd64» 4194304 @"}},
      {"an NVMe disk, and a USB disk formatted whole without partitions",
       R"({"blockdevices": [
          {"name": "/dev/nvme0n1", "type": "disk", "fstype": null, "label": null,
           "size": 512110190592, "pkname": null, "mountpoint": null, "children": [
              {"name": "/dev/nvme0n1p1", "type": "part", "fstype": "vfat", "label": null,
               "size": 272629760, "pkname": "/dev/nvme0n1", "mountpoint": null},
              {"name": "/dev/nvme0n1p3", "type": "part", "fstype": "ntfs", "label": "OS",
               "size": 510770118656, "pkname": "/dev/nvme0n1", "mountpoint": null}]},
          {"name": "/dev/sdd", "type": "disk", "fstype": "ntfs", "label": "COPIAS",
           "size": 64023257088, "pkname": null, "mountpoint": null}]})",
       {"/dev/nvme0n1p1 disk=/dev/nvme0n1 vfat «» 272629760 @",
        "/dev/nvme0n1p3 disk=/dev/nvme0n1 ntfs «OS» 510770118656 @",
        "/dev/sdd disk=/dev/sdd ntfs «COPIAS» 64023257088 @"}},
  };
  for (const LsblkCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Lines(rescue::ParseBlockDevices(c.json)), c.expected);
  }
}

TEST(ParseBlockDevices, RefusesWhatItCannotRead) {
  for (const char* bad :
       {"", "lsblk: unknown column", R"({"blockdevices": 3})", R"({"blockdevices": [)",
        R"({"blockdevices": []} x)", R"({"blockdevices": [{"name": "/dev/sda", "size": "12x"}]})",
        R"({"blockdevices": [{"name": "/dev/sda\q"}]})"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(rescue::ParseBlockDevices(bad), std::runtime_error);
  }
}

// One NTFS partition, /dev/sdz3, examined on fake disks.
class FindVolumesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    places_.mount_base = dir_.path() / "run" / "discos";
    places_.mounts = dir_.path() / "mounts";
    WriteText(places_.mounts, "");
  }
  static void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  std::string RoMount(const std::string& device) const {
    return "ntfs-3g -o ro,nodev,nosuid,noexec " + device + " " +
           (places_.mount_base / fs::path(device).filename()).string();
  }

  TempDir dir_;
  rescue::Places places_;
  FakeCommands fake_;
};

struct ClassifyCase {
  const char* name;
  int probe;
  enum Tree { kNoTree, kWindows, kWindowsHiberbootOn, kHiberfil, kHiberfilHiberbootOn } tree;
  bool mount_refused;
  VolumeState state;
  Hibernation hibernation;
};

TEST_F(FindVolumesTest, ClassifiesEachNtfsVolumeReadingItOnlyReadOnly) {
  const ClassifyCase cases[] = {
      {"clean Windows", 0, ClassifyCase::kWindowsHiberbootOn, false, VolumeState::kWindows,
       Hibernation::kNone},
      {"probe: hibernated, Fast Startup on", 14, ClassifyCase::kWindowsHiberbootOn, false,
       VolumeState::kWindows, Hibernation::kFastStartup},
      {"probe: metadata in Windows' cache, Fast Startup off", 15, ClassifyCase::kWindows, false,
       VolumeState::kWindows, Hibernation::kHibernated},
      {"hiberfil.sys says hibernated, Fast Startup on", 0, ClassifyCase::kHiberfilHiberbootOn,
       false, VolumeState::kWindows, Hibernation::kFastStartup},
      {"hiberfil.sys says hibernated, Fast Startup off", 0, ClassifyCase::kHiberfil, false,
       VolumeState::kWindows, Hibernation::kHibernated},
      {"NTFS without Windows", 0, ClassifyCase::kNoTree, false, VolumeState::kNoWindows,
       Hibernation::kNone},
      {"refused even read-only", 13, ClassifyCase::kNoTree, true, VolumeState::kUnreadable,
       Hibernation::kNone},
  };
  const fs::path trees = dir_.path() / "trees";
  MakeWindowsTree(trees / "windows", "Windows 10 Pro", "23H2", "22631", false, false);
  MakeWindowsTree(trees / "windows-hiberboot", "Windows 10 Pro", "23H2", "22631", true, false);
  MakeWindowsTree(trees / "hiberfil", "Windows 10 Home", "22H2", "19045", false, true);
  MakeWindowsTree(trees / "hiberfil-hiberboot", "Windows 10 Home", "22H2", "19045", true, true);
  fs::create_directories(trees / "empty");
  const fs::path tree_of[] = {trees / "empty", trees / "windows", trees / "windows-hiberboot",
                              trees / "hiberfil", trees / "hiberfil-hiberboot"};
  for (const ClassifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCommands fake;
    fake.answers[kLsblkCommand] = {0, LsblkOf({{"/dev/sdz3", "ntfs", "Windows", 255013830656}})};
    fake.answers["ntfs-3g.probe --readwrite /dev/sdz3"] = {c.probe, ""};
    if (c.mount_refused) {
      fake.answers[RoMount("/dev/sdz3")] = {13, "NTFS is inconsistent. Run chkdsk /f on Windows"};
    }
    fake.contents["/dev/sdz3"] = tree_of[c.tree];

    const std::vector<Volume> volumes = rescue::FindVolumes(fake, places_);

    ASSERT_EQ(volumes.size(), 1u);
    const Volume& volume = volumes.front();
    EXPECT_EQ(volume.state, c.state);
    EXPECT_EQ(volume.hibernation, c.hibernation);
    EXPECT_EQ(volume.device.label, "Windows");
    if (c.state == VolumeState::kWindows) {
      const bool eleven =
          c.tree == ClassifyCase::kWindows || c.tree == ClassifyCase::kWindowsHiberbootOn;
      EXPECT_EQ(volume.windows_version, eleven ? "Windows 11 Pro 23H2" : "Windows 10 Home 22H2");
      EXPECT_EQ(volume.windows_build, eleven ? "22631" : "19045");
    }
    if (c.mount_refused) {
      EXPECT_EQ(volume.detail, "NTFS is inconsistent. Run chkdsk /f on Windows");
    }
    EXPECT_EQ(fake.CallsStarting("ntfs-3g -o"), std::vector<std::string>{RoMount("/dev/sdz3")});
    // Unmounted, and its folder gone.
    EXPECT_EQ(fake.CallsStarting("umount").size(), c.mount_refused ? 0u : 1u);
    EXPECT_FALSE(fs::exists(places_.mount_base / "sdz3"));
  }
}

TEST_F(FindVolumesTest, LeavesTheBootMediumOutAndKeepsBitLocker) {
  // The live USB holds an NTFS partition of its own; the PC's disk an NTFS
  // and a BitLocker partition.
  fake_.answers[kLsblkCommand] = {0, R"({"blockdevices": [
      {"name": "/dev/sdb", "type": "disk", "size": 15376318464, "children": [
         {"name": "/dev/sdb1", "type": "part", "fstype": "iso9660", "size": 3160408064,
          "mountpoint": null},
         {"name": "/dev/sdb3", "type": "part", "fstype": "ntfs", "size": 1000000,
          "mountpoint": null}]},
      {"name": "/dev/sdz", "type": "disk", "size": 512110190592, "children": [
         {"name": "/dev/sdz3", "type": "part", "fstype": "ntfs", "label": "Datos",
          "size": 200000000000, "mountpoint": null},
         {"name": "/dev/sdz4", "type": "part", "fstype": "BitLocker", "size": 300000000000,
          "mountpoint": null}]}]})"};
  WriteText(places_.mounts,
            "/dev/sdb1 /run/live/medium iso9660 ro,noatime 0 0\n"
            "/dev/loop0 /run/live/rootfs/filesystem.squashfs squashfs ro,noatime 0 0\n");

  const std::vector<Volume> volumes = rescue::FindVolumes(fake_, places_);

  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[0].device.path, "/dev/sdz3");
  EXPECT_EQ(volumes[0].state, VolumeState::kNoWindows);
  EXPECT_EQ(volumes[1].device.path, "/dev/sdz4");
  EXPECT_EQ(volumes[1].state, VolumeState::kBitLocker);
  for (const std::string& call : fake_.calls) {
    EXPECT_EQ(call.find("/dev/sdb"), std::string::npos) << call;
    EXPECT_EQ(call.find("sdz4"), std::string::npos) << call;
  }
}

TEST_F(FindVolumesTest, SaysWhyWhenLsblkFails) {
  fake_.answers[kLsblkCommand] = {1, "lsblk: unknown column: PKNAME"};
  try {
    rescue::FindVolumes(fake_, places_);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "lsblk: unknown column: PKNAME");
  }
}

TEST_F(FindVolumesTest, MountsWithTheOptionsOfEachModeAndUnmountsAtTheEnd) {
  const std::pair<rescue::Mount::Mode, std::string> modes[] = {
      {rescue::Mount::Mode::kReadOnly, "ro,nodev,nosuid,noexec"},
      {rescue::Mount::Mode::kReadWrite, "rw,nodev,nosuid,noexec"},
      {rescue::Mount::Mode::kReadWriteDroppingHibernation,
       "rw,remove_hiberfile,nodev,nosuid,noexec"},
  };
  const std::string folder = (places_.mount_base / "sdz3").string();
  for (const auto& [mode, options] : modes) {
    SCOPED_TRACE(options);
    FakeCommands fake;
    {
      const auto mount = rescue::Mount::Open(fake, places_, "/dev/sdz3", mode);
      EXPECT_EQ(mount->folder(), folder);
      EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    }
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"ntfs-3g -o " + options + " /dev/sdz3 " + folder, "sync",
                                        "umount " + folder}));
    EXPECT_FALSE(fs::exists(folder));
  }
}

TEST_F(FindVolumesTest, MountRefusesADeviceOutsideDevAndALinkedFolder) {
  EXPECT_THROW(
      rescue::Mount::Open(fake_, places_, "/tmp/disco.img", rescue::Mount::Mode::kReadOnly),
      std::runtime_error);
  EXPECT_THROW(rescue::Mount::Open(fake_, places_, "/dev/../tmp/x", rescue::Mount::Mode::kReadOnly),
               std::runtime_error);
  fs::create_directories(places_.mount_base);
  fs::create_directory(dir_.path() / "elsewhere");
  fs::create_directory_symlink(dir_.path() / "elsewhere", places_.mount_base / "sdz3");
  EXPECT_THROW(rescue::Mount::Open(fake_, places_, "/dev/sdz3", rescue::Mount::Mode::kReadWrite),
               std::runtime_error);
  EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(FindVolumesTest, RecoverJournalRunsBothStepsAndStopsAtAFailure) {
  rescue::RecoverJournal(fake_, "/dev/sdz3");
  EXPECT_EQ(fake_.calls,
            (std::vector<std::string>{"ntfsrecover /dev/sdz3", "ntfsrecover -k /dev/sdz3"}));

  // An empty journal (as ntfs-3g leaves it) holds nothing to replay.
  FakeCommands empty;
  empty.answers["ntfsrecover /dev/sdz3"] = {1, "** The log file has been wiped out\n"};
  empty.answers["ntfsrecover -k /dev/sdz3"] = {1, "** The log file has been wiped out\n"};
  EXPECT_NO_THROW(rescue::RecoverJournal(empty, "/dev/sdz3"));

  FakeCommands damaged;
  damaged.answers["ntfsrecover /dev/sdz3"] = {1, "** Could not get any restart page\n"};
  try {
    rescue::RecoverJournal(damaged, "/dev/sdz3");
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "** Could not get any restart page");
  }
  EXPECT_EQ(damaged.calls, std::vector<std::string>{"ntfsrecover /dev/sdz3"});
}

TEST(SystemCommands, CapturesOutputAndStatusWithoutAShell) {
  const auto commands = rescue::SystemCommands();
  const auto both = commands->Run({"sh", "-c", "echo salida; echo error >&2; exit 3"});
  EXPECT_EQ(both.status, 3);
  EXPECT_EQ(both.output, "salida\nerror\n");
  // Each argument as given: nothing a shell would read in it is read.
  EXPECT_EQ(commands->Run({"echo", "$HOME; `x` *"}).output, "$HOME; `x` *\n");
  EXPECT_EQ(commands->Run({"sh", "-c", "echo $LC_ALL"}).output, "C\n");
  // Standard input is /dev/null: cat ends at once.
  EXPECT_EQ(commands->Run({"cat"}).status, 0);
  const auto missing = commands->Run({"/no/such/program"});
  EXPECT_EQ(missing.status, -1);
  EXPECT_NE(missing.output.find("/no/such/program"), std::string::npos);
  // What is kept of a flood is bounded.
  EXPECT_EQ(commands->Run({"head", "-c", "3000000", "/dev/zero"}).output.size(), 1u << 20);
}

TEST(SystemCommands, EndsWhenTheProgramEndsOrItsTimeIsUp) {
  const auto commands = rescue::SystemCommands();
  const auto start = std::chrono::steady_clock::now();
  // What it leaves running keeps the pipe open (a daemon might).
  const auto keeps = commands->Run({"sh", "-c", "sleep 4 & echo listo"});
  EXPECT_EQ(keeps.status, 0);
  EXPECT_EQ(keeps.output, "listo\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  rescue::RunOptions options;
  options.time_limit = std::chrono::seconds(1);
  std::ostringstream shown;
  options.shown = &shown;
  const auto slow = commands->RunWith({"sh", "-c", "echo empiezo; sleep 30"}, options);
  EXPECT_EQ(slow.status, -1);
  EXPECT_EQ(shown.str(), "empiezo\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

}  // namespace
}  // namespace sorbantilex::offline::testing
