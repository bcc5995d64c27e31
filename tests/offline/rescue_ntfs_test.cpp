// The rescue library on a real NTFS volume (an image on a loop device,
// mounted with ntfs-3g) holding a small Windows installation: found,
// recognised and left byte for byte as it was. Skipped, saying why, where
// no loop device or ntfs-3g mount can be made.

#include "rescue/volumes.h"
#include "platform/offline/paths.h"
#include "rescue_fakes.h"

namespace sorbantilex::offline::testing {
namespace {

using rescue::Hibernation;
using rescue::Mount;
using rescue::VolumeState;

// The system's programs, but lsblk, which would list this machine's disks,
// lists the loop device as a partition of a PC's disk.
class LoopDisk final : public rescue::Commands {
 public:
  explicit LoopDisk(std::string device) : device_(std::move(device)) {}
  rescue::CommandResult Run(const std::vector<std::string>& argv) override {
    return RunWith(argv, {});
  }
  rescue::CommandResult RunWith(const std::vector<std::string>& argv,
                                const rescue::RunOptions& options) override {
    if (argv.front() == "lsblk") return {0, LsblkOf({{device_, "ntfs", "Windows", 64 << 20}})};
    return system_->RunWith(argv, options);
  }

 private:
  std::string device_;
  std::unique_ptr<rescue::Commands> system_ = rescue::SystemCommands();
};

class RescueNtfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.path() / "ntfs.img";
    places_.mount_base = dir_.path() / "run" / "discos";
    places_.mounts = dir_.path() / "mounts";
    WriteBytes(places_.mounts, {});
    const auto made = RunShell("truncate -s 64M '" + image_.string() + "' && mkntfs -F -q -f '" +
                               image_.string() + "' >/dev/null 2>&1 && losetup -f --show '" +
                               image_.string() + "' 2>&1");
    if (made.status != 0 || made.output.rfind("/dev/loop", 0) != 0) {
      GTEST_SKIP() << "no loop device here: " << made.output;
    }
    device_ = made.output.substr(0, made.output.find('\n'));
    commands_ = std::make_unique<LoopDisk>(device_);
    try {
      Mount::Open(*commands_, places_, device_, Mount::Mode::kReadOnly);
    } catch (const std::exception& error) {
      GTEST_SKIP() << "no ntfs-3g volume here: " << error.what();
    }
  }
  void TearDown() override {
    if (!device_.empty()) RunShell("losetup -d " + device_);
  }

  // Writes a Windows installation on the volume.
  void Install(bool hibernated) {
    const auto mount = Mount::Open(*commands_, places_, device_, Mount::Mode::kReadWrite);
    MakeWindowsTree(mount->folder(), "Windows 10 Pro", "22H2", "19045", false, hibernated);
    std::string error;
    ASSERT_TRUE(mount->Unmount(&error)) << error;
  }

  TempDir dir_;
  fs::path image_;
  std::string device_;
  rescue::Places places_;
  std::unique_ptr<rescue::Commands> commands_;
};

TEST_F(RescueNtfsTest, FindsTheInstallationAndChangesNothing) {
  Install(false);
  const auto before = ReadBytes(image_);

  const auto volumes = rescue::FindVolumes(*commands_, places_);

  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].state, VolumeState::kWindows) << volumes[0].detail;
  EXPECT_EQ(volumes[0].hibernation, Hibernation::kNone);
  EXPECT_EQ(volumes[0].windows_version, "Windows 10 Pro 22H2");
  EXPECT_EQ(volumes[0].windows_build, "19045");
  EXPECT_TRUE(ReadBytes(image_) == before) << "the volume changed";
  EXPECT_TRUE(fs::is_empty(places_.mount_base));

  // ntfs-3g leaves the journal empty: nothing to replay, nothing written.
  EXPECT_NO_THROW(rescue::RecoverJournal(*commands_, device_));
  EXPECT_TRUE(ReadBytes(image_) == before) << "the journal replay changed the volume";
}

TEST_F(RescueNtfsTest, AHibernatedVolumeIsOnlyReadUntilTheHibernationIsDropped) {
  Install(true);
  const auto before = ReadBytes(image_);

  const auto volumes = rescue::FindVolumes(*commands_, places_);

  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].state, VolumeState::kWindows) << volumes[0].detail;
  EXPECT_EQ(volumes[0].hibernation, Hibernation::kHibernated);
  EXPECT_TRUE(ReadBytes(image_) == before) << "the volume changed";

  // ntfs-3g mounts it read-only when asked for read-write: refused.
  EXPECT_THROW(Mount::Open(*commands_, places_, device_, Mount::Mode::kReadWrite),
               std::runtime_error);
  EXPECT_NO_THROW(rescue::RecoverJournal(*commands_, device_));
  EXPECT_TRUE(ReadBytes(image_) == before) << "the volume changed";

  const auto mount =
      Mount::Open(*commands_, places_, device_, Mount::Mode::kReadWriteDroppingHibernation);
  EXPECT_FALSE(FindNoCase(mount->folder(), "hiberfil.sys"));
  EXPECT_TRUE(LooksLikeInstallation(mount->folder()));
}

}  // namespace
}  // namespace sorbantilex::offline::testing
