#include "platform/offline/hive_file/dirty_hive.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include "log_writer.h"
#include "offline_test_support.h"
#include "platform/offline/hive_file/hive.h"
#include "platform/offline/safe_files.h"

namespace sorbantilex::offline::testing {
namespace {

// Logs that recover the hive MakeDirtyHive leaves.
struct DirtyLogs {
  std::vector<std::uint8_t> new_format;  // one entry, 566
  std::vector<std::uint8_t> old_format;  // bin 1's 8 pages
};

// A dirty hive "NTUSER.DAT" in `folder` and the bytes of logs that recover
// it.
DirtyLogs MakeDirtyHive(const fs::path& folder) {
  auto before = MakeHiveImage(2, 566);
  auto after = before;
  Touch(after, 1, 0x77);
  NewLogWriter log(before, 566);
  log.Add(566, before, after);
  SetSequences(before, 567, 566);
  SetSequences(after, 567, 566);
  WriteBytes(folder / "NTUSER.DAT", before);
  return {log.bytes(), OldFormatLog(before, after)};
}

std::optional<RecoveredHive> Recover(const fs::path& hive) {
  const OpenedFile file = OpenRegularFile(hive);
  return RecoverDirtyHive(file.fd.get(), hive);
}

struct FileCase {
  std::string_view name;
  std::function<void(const fs::path& folder, const DirtyLogs& logs)> lay;
  // Recovered: the log applied, and its entries or pages applied.
  std::string_view applied = {};
  std::size_t count = 0;
  // Refused: the error's kind; why the logs cannot recover the hive, or
  // what stands at a log's name (as the opener calls it).
  std::optional<ErrorKind> refused = std::nullopt;
  std::optional<RecoveryIssue::Kind> because = std::nullopt;
  std::string_view standing = {};
};

const FileCase kFileCases[] = {
    {.name = "LogNamedInOtherLetterCase",
     .lay = [](const fs::path& f,
               const auto& logs) { WriteBytes(f / "ntuser.dat.log1", logs.new_format); },
     .applied = "ntuser.dat.log1",
     .count = 1},
    {.name = "OldFormatLogAsWindows7LeavesIt",
     .lay =
         [](const fs::path& f, const auto& logs) {
           WriteBytes(f / "NTUSER.DAT.LOG1", logs.old_format);
           WriteBytes(f / "NTUSER.DAT.LOG2", {});
         },
     .applied = "NTUSER.DAT.LOG1",
     .count = 8},
    {.name = "NoLog",
     .lay = [](const fs::path&, const auto&) {},
     .refused = ErrorKind::kLogUnrecoverable,
     .because = RecoveryIssue::Kind::kNoLogs},
    {.name = "LogIsALink",
     .lay =
         [](const fs::path& f, const auto& logs) {
           WriteBytes(f / "elsewhere", logs.new_format);
           fs::create_symlink(f / "elsewhere", f / "NTUSER.DAT.LOG1");
         },
     .refused = ErrorKind::kLogUnreadable,
     .standing = "symlink"},
    {.name = "LogIsAFifo",
     .lay = [](const fs::path& f,
               const auto&) { ASSERT_EQ(::mkfifo((f / "NTUSER.DAT.LOG2").c_str(), 0600), 0); },
     .refused = ErrorKind::kLogUnreadable,
     .standing = "fifo"},
    {.name = "TwoLogsDifferingInLetterCase",
     .lay =
         [](const fs::path& f, const auto& logs) {
           WriteBytes(f / "NTUSER.DAT.LOG1", logs.new_format);
           WriteBytes(f / "ntuser.dat.LOG1", logs.new_format);
         },
     .refused = ErrorKind::kAmbiguousLogs},
};

class DirtyHiveFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(DirtyHiveFiles, FindsTheLogsSafelyAndWritesNothing) {
  const FileCase& c = GetParam();
  TempDir dir;
  const auto logs = MakeDirtyHive(dir.path());
  c.lay(dir.path(), logs);
  const auto before = FolderContents(dir.path());
  try {
    const auto recovered = Recover(dir.path() / "NTUSER.DAT");
    ASSERT_FALSE(c.refused) << "recovered";
    ASSERT_TRUE(recovered.has_value());
    const auto& applied = recovered->summary().applied;
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].name, c.applied);
    EXPECT_EQ(applied[0].count, c.count);
    EXPECT_EQ(recovered->sequence(), 568u);
  } catch (const Error& error) {
    ASSERT_EQ(std::optional(error.kind()), c.refused) << error.what();
    if (c.because) {
      ASSERT_NE(error.recovery(), nullptr);
      EXPECT_EQ(error.recovery()->kind, *c.because);
    }
    if (!c.standing.empty()) {
      ASSERT_NE(error.cause(), nullptr) << error.what();
      EXPECT_EQ(error.cause()->kind(), ErrorKind::kNotRegularFile);
      EXPECT_EQ(error.cause()->detail(), c.standing);
    }
  }
  EXPECT_EQ(FolderContents(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Logs, DirtyHiveFiles, ::testing::ValuesIn(kFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DirtyHive, CleanHiveIsUsedAsItIs) {
  TempDir dir;
  WriteBytes(dir.path() / "NTUSER.DAT", MakeHiveImage(2, 9));
  EXPECT_FALSE(Recover(dir.path() / "NTUSER.DAT").has_value());
}

TEST(DirtyHive, LibhivexOpensTheRecoveredRealHiveFromMemory) {
  const fs::path folder = RealHivesFolder() / "dirty";
  if (RealHivesFolder().empty() || !fs::exists(folder)) GTEST_SKIP() << "no real dirty hives";
  TempDir dir;
  fs::copy_file(folder / "UsrClass.dat", dir.path() / "UsrClass.dat");
  fs::copy_file(folder / "UsrClass.dat.LOG1", dir.path() / "UsrClass.dat.LOG1");
  fs::copy_file(folder / "UsrClass.dat.LOG2", dir.path() / "usrclass.dat.log2");
  auto recovered = Recover(dir.path() / "UsrClass.dat");
  ASSERT_TRUE(recovered.has_value());
  const auto& applied = recovered->summary().applied;
  ASSERT_EQ(applied.size(), 2u);
  EXPECT_EQ(std::tie(applied[0].name, applied[0].count, applied[0].first_sequence,
                     applied[0].last_sequence),
            std::make_tuple("UsrClass.dat.LOG1", 4u, 287u, 290u));
  EXPECT_EQ(std::tie(applied[1].name, applied[1].count, applied[1].first_sequence,
                     applied[1].last_sequence),
            std::make_tuple("usrclass.dat.log2", 10u, 291u, 300u));
  EXPECT_EQ(recovered->logs().size(), 2u);
  std::unique_ptr<hive_h, int (*)(hive_h*)> hive(
      hivex_open(DescriptorPath(recovered->fd()).c_str(), 0), hivex_close);
  ASSERT_TRUE(hive);
  recovered->Release();
  EXPECT_NE(hivex_root(hive.get()), 0u);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
