// The undo file on the mounted disk, which may be the attacker's: always a
// new file, never through a link or onto a FIFO.

#include "platform/offline/installation/undo_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "offline_test_support.h"

namespace sorbantilex::offline::testing {
namespace {

constexpr std::time_t kWhen = 1781000000;  // any fixed moment

TEST(UndoFile, IsANewDatedFileBesideTheBackups) {
  TempDir dir;
  const std::vector<std::uint8_t> content = {0xFF, 0xFE, 'W', 0};
  const fs::path written = WriteUndoFile(dir.path(), kWhen, content);
  EXPECT_EQ(written, dir.path() / UndoFileName(kWhen));
  EXPECT_EQ(ReadBytes(written), content);
  const std::string name = UndoFileName(kWhen);
  EXPECT_TRUE(name.starts_with("Sorbantilex-deshacer-20")) << name;
  EXPECT_EQ(name.size(), std::string("Sorbantilex-deshacer-YYYYMMDD-HHMMSS.reg").size()) << name;

  // A second run in the same second gets a name of its own.
  EXPECT_EQ(WriteUndoFile(dir.path(), kWhen, content).filename().string(),
            name.substr(0, name.size() - 4) + "-2.reg");
  EXPECT_EQ(ReadBytes(written), content);
}

TEST(UndoFile, NeverWritesThroughALinkOrIntoAFifo) {
  TempDir dir;
  TempDir elsewhere;
  const std::string name = UndoFileName(kWhen);
  const std::string stem = name.substr(0, name.size() - 4);
  fs::create_symlink(elsewhere.path() / "target", dir.path() / name);  // dangling
  ASSERT_EQ(::mkfifo((dir.path() / (stem + "-2.reg")).c_str(), 0600), 0);
  fs::create_symlink(elsewhere.path(), dir.path() / (stem + "-3.reg"));

  const fs::path written = WriteUndoFile(dir.path(), kWhen, Bytes("x"));
  EXPECT_EQ(written.filename().string(), stem + "-4.reg");
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
  EXPECT_TRUE(fs::is_fifo(dir.path() / (stem + "-2.reg")));
}

TEST(UndoFile, AFolderThatTakesNoFileRaisesAndLeavesNothing) {
  TempDir dir;
  const auto missing = ErrorFrom([&] { WriteUndoFile(dir.path() / "missing", kWhen, Bytes("x")); });
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->kind(), ErrorKind::kUndoFileNotWritten);
  EXPECT_EQ(missing->error_number(), ENOENT);
  EXPECT_EQ(missing->path().parent_path(), dir.path() / "missing");
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  if (::geteuid() != 0) {  // root writes anyway
    const auto refused = ErrorFrom([&] { WriteUndoFile(dir.path(), kWhen, Bytes("x")); });
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind(), ErrorKind::kUndoFileNotWritten);
    EXPECT_EQ(refused->error_number(), EACCES);
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
  fs::permissions(dir.path(), fs::perms::owner_all);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
