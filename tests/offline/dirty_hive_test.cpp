#include "platform/offline/hive_file/dirty_hive.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <sys/stat.h>

#include <functional>
#include <memory>

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
  std::string_view outcome;  // part of the notice, or of the refusal
  bool refused = false;
};

const FileCase kFileCases[] = {
    {"LogNamedInOtherLetterCase",
     [](const fs::path& f, const auto& logs) {
       WriteBytes(f / "ntuser.dat.log1", logs.new_format);
     },
     "1 entrada de \"ntuser.dat.log1\" (la 566)"},
    {"OldFormatLogAsWindows7LeavesIt",
     [](const fs::path& f, const auto& logs) {
       WriteBytes(f / "NTUSER.DAT.LOG1", logs.old_format);
       WriteBytes(f / "NTUSER.DAT.LOG2", {});
     },
     "8 páginas de \"NTUSER.DAT.LOG1\""},
    {"NoLog", [](const fs::path&, const auto&) {}, "No hay junto a él registros", true},
    {"LogIsALink",
     [](const fs::path& f, const auto& logs) {
       WriteBytes(f / "elsewhere", logs.new_format);
       fs::create_symlink(f / "elsewhere", f / "NTUSER.DAT.LOG1");
     },
     "es un enlace simbólico", true},
    {"LogIsAFifo",
     [](const fs::path& f, const auto&) {
       ASSERT_EQ(::mkfifo((f / "NTUSER.DAT.LOG2").c_str(), 0600), 0);
     },
     "es una tubería", true},
    {"TwoLogsDifferingInLetterCase",
     [](const fs::path& f, const auto& logs) {
       WriteBytes(f / "NTUSER.DAT.LOG1", logs.new_format);
       WriteBytes(f / "ntuser.dat.LOG1", logs.new_format);
     },
     "solo se distinguen por las mayúsculas", true},
};

class DirtyHiveFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(DirtyHiveFiles, FindsTheLogsSafelyAndWritesNothing) {
  TempDir dir;
  const auto logs = MakeDirtyHive(dir.path());
  GetParam().lay(dir.path(), logs);
  const auto before = FolderContents(dir.path());
  try {
    const auto recovered = Recover(dir.path() / "NTUSER.DAT");
    ASSERT_FALSE(GetParam().refused) << "recovered";
    ASSERT_TRUE(recovered.has_value());
    EXPECT_NE(recovered->notice().find(GetParam().outcome), std::string::npos)
        << recovered->notice();
    EXPECT_EQ(recovered->sequence(), 568u);
  } catch (const OfflineRefusal& refusal) {
    ASSERT_TRUE(GetParam().refused) << refusal.what();
    EXPECT_NE(std::string(refusal.what()).find(GetParam().outcome), std::string::npos)
        << refusal.what();
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
  EXPECT_NE(recovered->notice().find("4 entradas de \"UsrClass.dat.LOG1\" (de la 287 a la 290) y "
                                     "10 entradas de \"usrclass.dat.log2\" (de la 291 a la 300)"),
            std::string::npos)
      << recovered->notice();
  EXPECT_EQ(recovered->logs().size(), 2u);
  std::unique_ptr<hive_h, int (*)(hive_h*)> hive(
      hivex_open(DescriptorPath(recovered->fd()).c_str(), 0), hivex_close);
  ASSERT_TRUE(hive);
  recovered->Release();
  EXPECT_NE(hivex_root(hive.get()), 0u);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
