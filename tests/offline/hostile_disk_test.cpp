// A Windows disk planted with links, FIFOs, devices and hives whose header
// lies: the program neither writes outside the installation, nor blocks,
// nor takes the bait.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "offline_test_support.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/safe_files.h"
#include "platform/offline/installation/sample.h"

namespace sorbantilex::offline::testing {
namespace {

using Outcome = CommandResult;

Outcome RunCli(const std::string& arguments) {
  const std::string command =
      std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") + SORBANTILEX_CLI +
      "' " + arguments + " 2>&1";
  return RunShell(command);
}

class HostileDisk : public ::testing::Test {
 public:
  void SetUp() override {
    root_ = dir_.path() / "c";
    outside_ = dir_.path() / "fuera";
    fs::create_directories(outside_);
    MakeSampleInstallation(root_);
    WriteBytes(outside_ / "victima", Bytes("no me toques\n"));
  }
  fs::path Config() const { return root_ / "WINDOWS" / "system32" / "config"; }
  fs::path Software() const { return Config() / "software"; }
  fs::path System() const { return Config() / "system"; }
  fs::path Hosts() const { return root_ / "WINDOWS" / "system32" / "drivers" / "etc" / "hosts"; }
  fs::path UserFolder() const { return root_ / "Documents and Settings" / "Juan"; }
  Outcome Run(const std::string& more) {
    return RunCli("--windows '" + root_.string() + "' " + more);
  }

  TempDir dir_;
  fs::path root_;
  fs::path outside_;
};

TEST_F(HostileDisk, LinksAtTheTemporaryNamesAreReplacedNotFollowed) {
  fs::create_symlink(outside_ / "victima", Software().string() + ".sorbantilex-nuevo");
  fs::create_symlink(outside_ / "victima", Hosts().string() + ".sorbantilex-nuevo");
  fs::create_symlink(outside_ / "nueva", System().string() + ".sorbantilex-nuevo");

  const auto outcome = Run("--all");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_EQ(ReadBytes(outside_ / "victima"), Bytes("no me toques\n"));
  EXPECT_FALSE(fs::exists(outside_ / "nueva"));
  for (const auto& file : {Software(), System(), Hosts()}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << file;
    EXPECT_FALSE(fs::exists(fs::symlink_status(file.string() + ".sorbantilex-nuevo"))) << file;
  }
  EXPECT_EQ(ReadBytes(Hosts()), Bytes("127.0.0.1 localhost\r\n"));
  EXPECT_TRUE(ReadBaseBlock(Software()).has_value());
}

TEST_F(HostileDisk, AFifoForHibernationFileNeitherBlocksNorCounts) {
  const fs::path fifo = root_ / "hiberfil.sys";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Should the program read it after all, it reads a hibernated signature
  // and refuses instead of waiting for ever.
  UniqueFd keep(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
  ASSERT_TRUE(keep);
  ASSERT_EQ(::write(keep.get(), "HIBR", 4), 4);

  for (const char* mode : {"--all --dry-run", "--task shell"}) {
    const auto outcome = Run(mode);
    EXPECT_EQ(outcome.status, 0) << mode << "\n" << outcome.output;
    EXPECT_EQ(outcome.output.find("hibernado"), std::string::npos) << outcome.output;
  }
}

// Each case spoils one file of the installation; the run refuses with a
// message naming the file and what is wrong, and nothing changes.
struct SpoiledCase {
  const char* name;
  std::function<fs::path(const HostileDisk&)> spoil;  // returns the file to be named
  const char* problem;
};
void PrintTo(const SpoiledCase& spoiled, std::ostream* out) { *out << spoiled.name; }

void Relink(const fs::path& file, const fs::path& target) {
  fs::remove(file);
  fs::create_symlink(target, file);
}

void EditBaseBlock(const fs::path& hive,
                   const std::function<void(std::vector<std::uint8_t>&)>& edit) {
  auto bytes = ReadBytes(hive);
  edit(bytes);
  SealBaseBlock(bytes);
  WriteBytes(hive, bytes);
}

void AddToBinsSize(std::vector<std::uint8_t>& bytes, std::uint32_t more) {
  std::uint32_t size = 0;
  std::memcpy(&size, bytes.data() + 40, 4);
  size += more;
  std::memcpy(bytes.data() + 40, &size, 4);
}

class SpoiledInstallation : public HostileDisk,
                            public ::testing::WithParamInterface<SpoiledCase> {};

TEST_P(SpoiledInstallation, RefusesNamingTheFileAndChangesNothing) {
  const fs::path named = GetParam().spoil(*this);
  const auto before = FolderContents(dir_.path());
  for (const char* mode : {"--all", "--all --dry-run"}) {
    const auto outcome = Run(mode);
    EXPECT_EQ(outcome.status, 1) << mode << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find("\"" + named.string() + "\""), std::string::npos)
        << outcome.output;
    EXPECT_NE(outcome.output.find(GetParam().problem), std::string::npos) << outcome.output;
    EXPECT_EQ(FolderContents(dir_.path()), before) << mode;
  }
}

const SpoiledCase kSpoiledCases[] = {
    {"HiveIsALinkOutside",
     [](const HostileDisk& disk) {
       fs::copy_file(disk.Software(), disk.outside_ / "software");
       Relink(disk.Software(), disk.outside_ / "software");
       return disk.Software();
     },
     "enlace simbólico"},
    {"ProfileFolderLeadsOutside",
     [](const HostileDisk& disk) {
       fs::copy(disk.UserFolder(), disk.outside_ / "Juan");
       fs::remove_all(disk.UserFolder());
       fs::create_directory_symlink(disk.outside_ / "Juan", disk.UserFolder());
       return disk.UserFolder() / "NTUSER.DAT";
     },
     "fuera de la instalación"},
    {"HiveIsADevice",
     [](const HostileDisk& disk) {
       Relink(disk.System(), "/dev/zero");
       return disk.System();
     },
     "enlace simbólico"},
    {"HiveIsAFifo",
     [](const HostileDisk& disk) {
       fs::remove(disk.System());
       ::mkfifo(disk.System().c_str(), 0644);
       return disk.System();
     },
     "tubería"},
    {"HeaderClaimsMoreThanTheFileHolds",
     [](const HostileDisk& disk) {
       EditBaseBlock(disk.Software(), [](auto& bytes) { AddToBinsSize(bytes, 1u << 30); });
       return disk.Software();
     },
     "la cabecera declara"},
    {"BinsDoNotMatchTheHeader",
     [](const HostileDisk& disk) {
       EditBaseBlock(disk.System(), [](auto& bytes) { AddToBinsSize(bytes, 0x1000); });
       auto bytes = ReadBytes(disk.System());
       bytes.resize(bytes.size() + 0x1000);
       WriteBytes(disk.System(), bytes);
       return disk.System();
     },
     "no coinciden"},
    {"FourGibibyteSparseFile",
     [](const HostileDisk& disk) {
       fs::resize_file(disk.Software(), std::uintmax_t{4} << 30);
       return disk.Software();
     },
     "más allá de los datos"},
};

INSTANTIATE_TEST_SUITE_P(Offline, SpoiledInstallation, ::testing::ValuesIn(kSpoiledCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorbantilex::offline::testing
