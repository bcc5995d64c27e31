// The offline session: one run on an installation from opening to commit.

#include "platform/offline/session/session.h"

#include <gtest/gtest.h>

#include "offline_test_support.h"
#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/sample.h"

namespace sorbantilex::offline::testing {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeSampleInstallation(dir_.path()); }
  fs::path Config() const { return Installation::Find(dir_.path()).software().parent_path(); }
  std::vector<fs::path> UndoFiles() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(Config())) {
      if (entry.path().filename().string().starts_with("Sorbantilex-deshacer-")) {
        found.push_back(entry.path());
      }
    }
    return found;
  }
  TempDir dir_;
};

// The undo file is on disk before the first hive is replaced: a run
// stopped at any point after it has changed something can be taken back.
TEST_F(SessionTest, WritesTheUndoFileBeforeTheFirstRename) {
  auto session = Session::Open({dir_.path(), {}, false});
  SetDword(session->registry(), kHkeyCurrentUser, "Software", "Prueba", 7);
  const auto user_hive = ReadBytes(Installation::Find(dir_.path()).Hives("").user);

  bool seen = false;
  CommitHooks hooks;
  hooks.before_renames = [&] {
    seen = true;
    EXPECT_EQ(UndoFiles().size(), 1u);
    EXPECT_EQ(ReadBytes(Installation::Find(dir_.path()).Hives("").user), user_hive);
  };
  const SessionResult result = session->Finish(hooks);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(result.commit.errors.empty());
  ASSERT_EQ(result.undo_files.size(), 1u);
  EXPECT_EQ(result.undo_files[0].profile, std::optional<std::string>(kSampleUser));
  ASSERT_EQ(UndoFiles(), std::vector<fs::path>{result.undo_files[0].path});
}

// A commit that replaces nothing leaves no undo file behind.
TEST_F(SessionTest, NoUndoFileWhenNothingWasReplaced) {
  auto session = Session::Open({dir_.path(), {}, false});
  SetDword(session->registry(), kHkeyCurrentUser, "Software", "Prueba", 7);
  CommitHooks hooks;
  hooks.before_renames = [] { StopCommits(); };
  // Asked to stop after the undo file is written: still before any rename.
  const SessionResult result = session->Finish(hooks);
  EXPECT_TRUE(result.commit.written.empty());
  EXPECT_TRUE(UndoFiles().empty());
}

// The installation is held before its hives are read; a second session
// sees the first and writes nothing.
TEST_F(SessionTest, ASecondSessionSeesTheFirstAndWritesNothing) {
  auto first = Session::Open({dir_.path(), {}, false});
  EXPECT_FALSE(first->another_instance());
  auto second = Session::Open({dir_.path(), {}, false});
  EXPECT_TRUE(second->another_instance());
  SetDword(second->registry(), kHkeyCurrentUser, "Software", "Prueba", 7);
  const auto before = FolderContents(dir_.path());
  const SessionResult result = second->Finish();
  EXPECT_TRUE(result.commit.written.empty());
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

// Every step opens its own section of the journal: a change is never
// filed under the step before it.
TEST_F(SessionTest, ChangesGoUnderTheStepThatMadeThem) {
  auto session = Session::Open({dir_.path(), {}, true});
  session->BeginStep("uno");
  SetDword(session->registry(), kHkeyCurrentUser, "Software", "A", 1);
  session->BeginStep("dos");
  const auto& sections = session->journal().sections();
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].changes.size(), 1u);
  EXPECT_TRUE(sections[1].changes.empty());
}

}  // namespace
}  // namespace sorbantilex::offline::testing
