// Which front end a start of sorbantilex gets, and the desktop window's
// installations: what it is offered, how one opens and is written at the end.

#include <set>
#include <string>
#include <vector>

#include "log_writer.h"
#include "offline_test_support.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/sample.h"
#include "platform/offline/session/session.h"
#include "registry/failure.h"
#include "ui/desktop/offline_desktop.h"
#include "ui/cli/options.h"

namespace sorbantilex::offline::testing {
namespace {

// Whether the program started with `arguments` (split at spaces) opens the
// desktop window; false when the options are answered on the command line.
bool OpensWindow(const std::string& arguments, bool display_available) {
  std::vector<std::string> words{"sorbantilex"};
  for (std::size_t at = 0; at < arguments.size();) {
    const std::size_t end = std::min(arguments.find(' ', at), arguments.size());
    words.push_back(arguments.substr(at, end - at));
    at = end + 1;
  }
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int early_exit = -1;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const auto options = cli::Parse(static_cast<int>(words.size()), argv.data(), &early_exit);
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  return options && cli::OpensDesktop(*options, display_available);
}

struct FrontEndCase {
  const char* name;
  const char* arguments;
  bool display;
  bool window;
};

class FrontEnd : public ::testing::TestWithParam<FrontEndCase> {};

TEST_P(FrontEnd, WindowOnlyWithADisplayAndNoTaskOption) {
  EXPECT_EQ(OpensWindow(GetParam().arguments, GetParam().display), GetParam().window);
}

const FrontEndCase kFrontEndCases[] = {
    {"NoOptions", "", true, true},
    {"WindowsAndUser", "--windows /mnt/w --user Juan", true, true},
    {"NoDisplay", "--windows /mnt/w", false, false},
    {"NoDisplayNoOptions", "", false, false},
    {"All", "--windows /mnt/w --all", true, false},
    {"Task", "--task shell", true, false},
    {"DryRun", "--dry-run", true, false},
    {"StartPage", "--start-page http://a.example/", true, false},
    {"Help", "--help", true, false},
    {"Version", "--version", true, false},
    {"List", "--list", true, false},
    {"UsageError", "--windows", true, false},
    {"Rescue", "--rescate", true, true},
    {"RescueNoDisplay", "--rescate", false, false},
    {"RescueWithMore", "--rescate --windows /mnt/w", true, false},
};

INSTANTIATE_TEST_SUITE_P(Cli, FrontEnd, ::testing::ValuesIn(kFrontEndCases),
                         [](const auto& info) { return std::string(info.param.name); });

class DesktopInstallation : public ::testing::Test {
 protected:
  void SetUp() override { MakeSampleInstallation(dir_.path()); }
  cli::Options Named(std::string user) const {
    cli::Options options;
    options.windows = dir_.path();
    if (!user.empty()) options.users.push_back(std::move(user));
    return options;
  }
  TempDir dir_;
};

TEST_F(DesktopInstallation, OffersTheProfilesTheOptionsName) {
  struct Case {
    std::string user_option;
    std::string offered;
  };
  for (const Case& c : {Case{"", "Juan"}, Case{"JUAN", "Juan"},
                        Case{std::string(kSampleUserSid), "Juan"}, Case{"Pedro", "Pedro"}}) {
    const auto found = desktop::FindDesktopTargets(Named(c.user_option));
    ASSERT_EQ(found.size(), 1u) << c.user_option;
    EXPECT_EQ(found[0].installation, dir_.path().string());
    EXPECT_EQ(found[0].user, c.offered) << c.user_option;
  }
}

// With several profiles, every profile together comes first, then each
// alone; the first opens a session over all of them.
TEST_F(DesktopInstallation, OffersEveryProfileFirstWhenThereAreSeveral) {
  fs::create_directories(dir_.path() / "Documents and Settings" / "Ana");
  fs::copy_file(Installation::Find(dir_.path()).Hives("").user,
                dir_.path() / "Documents and Settings" / "Ana" / "NTUSER.DAT");
  const auto found = desktop::FindDesktopTargets(Named(""));
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].user, "");
  EXPECT_EQ((std::set<std::string>{found[1].user, found[2].user}),
            (std::set<std::string>{"Juan", "Ana"}));
  auto session = offline::Session::Open({dir_.path(), {}, true});
  EXPECT_EQ(session->profiles().size(), 2u);
}

TEST_F(DesktopInstallation, OpeningWhatCannotBeRepairedSaysWhy) {
  cli::Options missing;
  missing.windows = dir_.path() / "nada";
  const auto found = desktop::FindDesktopTargets(missing);
  ASSERT_EQ(found.size(), 1u);
  const auto before = FolderContents(dir_.path());
  for (const DesktopTarget& target : {found[0], desktop::FindDesktopTargets(Named("Pedro"))[0]}) {
    try {
      desktop::OpenOfflineDesktop(target);
      ADD_FAILURE() << target.installation << " " << target.user << " opened";
    } catch (const Failure& failure) {
      EXPECT_FALSE(failure.description().empty());
    }
  }
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

TEST_F(DesktopInstallation, HeldAgainstOthersAndWrittenAtTheEnd) {
  const DesktopTarget target = desktop::FindDesktopTargets(Named("")).at(0);
  {
    const auto platform = desktop::OpenOfflineDesktop(target);
    try {
      desktop::OpenOfflineDesktop(target);
      ADD_FAILURE() << "opened twice";
    } catch (const Failure& failure) {
      EXPECT_NE(failure.description().find("ya está trabajando"), std::string::npos);
    }
    SetDword(platform->registry(), kHkeyCurrentUser, "Software", "Prueba", 7);
    ::testing::internal::CaptureStdout();
    platform->Finish(EndReason::kClosed);
    // The change report, as the command line prints it, for whoever started
    // the window (the rescue window shows it).
    const std::string report = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(report.find("\"Prueba\""), std::string::npos) << report;
    EXPECT_NE(report.find("Copias de seguridad:"), std::string::npos) << report;
  }
  HiveRegistry written(Installation::Find(dir_.path()).Hives("Juan"), false);
  const auto value = Query(written, kHkeyCurrentUser, "Software", "Prueba");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->second, (std::vector<std::uint8_t>{7, 0, 0, 0}));
  EXPECT_NO_THROW(desktop::OpenOfflineDesktop(target));  // the lock went with the first
}

TEST_F(DesktopInstallation, TellsOfAHiveRecoveredFromItsLogs) {
  const DesktopTarget target = desktop::FindDesktopTargets(Named("")).at(0);
  const auto paths = Installation::Find(dir_.path()).Hives("Juan");
  const auto before = ReadBytes(paths.user);
  Seed(paths, [](HiveRegistry& r) { SetDword(r, kHkeyCurrentUser, "Software", "DelRegistro", 9); });
  LeaveDirty(paths.user, before, "ntuser.dat.log1");

  const auto platform = desktop::OpenOfflineDesktop(target);
  const auto notices = platform->Notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("1 entrada de \"ntuser.dat.log1\""), std::string::npos) << notices[0];
  const auto value = Query(platform->registry(), kHkeyCurrentUser, "Software", "DelRegistro");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->second, (std::vector<std::uint8_t>{9, 0, 0, 0}));
}

}  // namespace
}  // namespace sorbantilex::offline::testing
