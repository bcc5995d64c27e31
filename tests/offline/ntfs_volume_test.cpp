// On a real NTFS volume, as a technician mounts it (ntfs-3g on a loop image
// here): a file the commit replaces keeps what Windows keeps besides its
// bytes. Skipped, saying why, where no such volume can be made.

#include <sys/xattr.h>

#include "offline_test_support.h"
#include "platform/offline/commit.h"

namespace sorbantilex::offline::testing {
namespace {

std::vector<char> Attribute(const fs::path& path, const char* name) {
  const ssize_t size = ::lgetxattr(path.c_str(), name, nullptr, 0);
  std::vector<char> value(size > 0 ? static_cast<std::size_t>(size) : 0);
  const ssize_t got = ::lgetxattr(path.c_str(), name, value.data(), value.size());
  value.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return value;
}

TEST(NtfsVolume, AReplacedFileKeepsItsSecurityDescriptorAndAttributes) {
  TempDir dir;
  const fs::path image = dir.path() / "ntfs.img";
  const fs::path volume = dir.path() / "volume";
  fs::create_directory(volume);
  const auto made = RunShell("truncate -s 16M '" + image.string() + "' && mkntfs -F -q -f '" +
                             image.string() + "' >/dev/null 2>&1 && ntfs-3g '" + image.string() +
                             "' '" + volume.string() + "' 2>&1");
  if (made.status != 0) GTEST_SKIP() << "no ntfs-3g volume here: " << made.output;
  struct Unmount {
    fs::path volume;
    ~Unmount() { RunShell("umount '" + volume.string() + "'"); }
  } unmount{volume};

  // A hive as Windows leaves it: hidden, system and archive, with a
  // security descriptor of its own (here the volume root's, which differs
  // from what a new file inherits).
  const fs::path hive = volume / "SOFTWARE";
  WriteBytes(hive, Bytes("antes"));
  const char attributes[] = {0, 0, 0, 0x26};
  ASSERT_EQ(::lsetxattr(hive.c_str(), "system.ntfs_attrib_be", attributes, 4, 0), 0);
  const std::vector<char> descriptor = Attribute(volume, "system.ntfs_acl");
  ASSERT_FALSE(descriptor.empty());
  ASSERT_EQ(::lsetxattr(hive.c_str(), "system.ntfs_acl", descriptor.data(), descriptor.size(), 0),
            0);
  const std::vector<char> acl_before = Attribute(hive, "system.ntfs_acl");
  const std::vector<char> attributes_before = Attribute(hive, "system.ntfs_attrib_be");

  std::vector<std::unique_ptr<PendingFile>> files;
  files.push_back(std::make_unique<PendingBytes>(hive, Bytes("después")));
  const CommitReport report = CommitFiles(std::move(files));
  ASSERT_TRUE(report.errors.empty()) << report.errors.front().what();

  EXPECT_EQ(ReadBytes(hive), Bytes("después"));
  EXPECT_EQ(Attribute(hive, "system.ntfs_acl"), acl_before);
  EXPECT_EQ(Attribute(hive, "system.ntfs_attrib_be"), attributes_before);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
