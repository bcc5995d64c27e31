#include <sys/xattr.h>

#include <cstdlib>
#include <memory>

#include "offline_test_support.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/offline_platform.h"
#include "platform/offline/installation/sample.h"
#include "registry/failure.h"

namespace sorbantilex::offline::testing {
namespace {

class SampleInstallationTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeSampleInstallation(dir_.path()); }
  fs::path Hosts() const {
    return dir_.path() / "WINDOWS" / "system32" / "drivers" / "etc" / "hosts";
  }
  TempDir dir_;
};

TEST_F(SampleInstallationTest, IsFoundWithItsProfileAndSystem) {
  const auto installation = Installation::Find(dir_.path());
  const auto profiles = installation.Profiles();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0].name, kSampleUser);
  EXPECT_EQ(profiles[0].sid, kSampleUserSid);
  const HivePaths hives = installation.Hives("JUAN");
  EXPECT_EQ(hives.user, dir_.path() / "Documents and Settings" / "Juan" / "NTUSER.DAT");
  EXPECT_EQ(hives.software, dir_.path() / "WINDOWS" / "system32" / "config" / "software");

  HiveRegistry registry(hives, false);
  OfflineSystemInfo system(registry);
  EXPECT_EQ(system.Environment("OS"), "Windows_NT");
  EXPECT_EQ(system.Environment("SystemRoot"), "C:\\WINDOWS");
  EXPECT_EQ(system.Environment("SystemDrive"), "C:");
  EXPECT_EQ(system.Environment("NoSuchVariable"), std::nullopt);
  EXPECT_EQ(system.WindowsDirectory(), "C:\\WINDOWS");
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  EXPECT_TRUE(system.Version(&major, &minor));
  EXPECT_EQ(major * 10 + minor, 51u);
}

// Windows 10 and 11 keep "6.3" in CurrentVersion and their own version in
// two numbers, which count; Windows 8.1 and older have only the text. The
// real version is the same.
struct VersionCase {
  const char* name;
  const char* text;
  std::optional<std::uint32_t> major_number;
  std::optional<std::uint32_t> minor_number;
  std::pair<std::uint32_t, std::uint32_t> version;
};
const VersionCase kVersionCases[] = {
    {"Windows7", "6.1", std::nullopt, std::nullopt, {6, 1}},
    {"Windows81", "6.3", std::nullopt, std::nullopt, {6, 3}},
    {"Windows10", "6.3", 10, 0, {10, 0}},
    {"Windows10WithoutMinorNumber", "6.3", 10, std::nullopt, {10, 0}},
};

class OfflineVersionTest : public SampleInstallationTest,
                           public ::testing::WithParamInterface<VersionCase> {};

TEST_P(OfflineVersionTest, ComesFromTheSoftwareHive) {
  const VersionCase& c = GetParam();
  constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  HiveRegistry registry(Installation::Find(dir_.path()).Hives(""), true);
  SetText(registry, kHkeyLocalMachine, kCurrentVersion, "CurrentVersion", kRegSz, c.text);
  if (c.major_number) {
    SetDword(registry, kHkeyLocalMachine, kCurrentVersion, "CurrentMajorVersionNumber",
             *c.major_number);
  }
  if (c.minor_number) {
    SetDword(registry, kHkeyLocalMachine, kCurrentVersion, "CurrentMinorVersionNumber",
             *c.minor_number);
  }
  OfflineSystemInfo system(registry);
  std::pair<std::uint32_t, std::uint32_t> version{};
  EXPECT_TRUE(system.Version(&version.first, &version.second));
  EXPECT_EQ(version, c.version);
  EXPECT_TRUE(system.RealVersion(&version.first, &version.second));
  EXPECT_EQ(version, c.version);
}

INSTANTIATE_TEST_SUITE_P(Systems, OfflineVersionTest, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SampleInstallationTest, IsNotMadeOverAnInstallationThatIsThere) {
  const auto before = FolderContents(dir_.path());
  const auto error = ErrorFrom([&] { MakeSampleInstallation(dir_.path()); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind(), ErrorKind::kInstallationPresent);
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

TEST_F(SampleInstallationTest, UnknownOrAmbiguousUsersAreRefusedWithTheList) {
  const auto installation = Installation::Find(dir_.path());
  fs::create_directories(dir_.path() / "Documents and Settings" / "Ana");
  fs::copy_file(installation.Hives("").user,
                dir_.path() / "Documents and Settings" / "Ana" / "NTUSER.DAT");
  const auto several = ErrorFrom([&] { installation.Hives(""); });
  ASSERT_TRUE(several.has_value());
  EXPECT_EQ(several->kind(), ErrorKind::kSeveralProfiles);
  const auto unknown = ErrorFrom([&] { installation.Hives("Pedro"); });
  ASSERT_TRUE(unknown.has_value());
  EXPECT_EQ(unknown->kind(), ErrorKind::kProfileNotFound);
  // The profiles as listed to choose from, whatever order they are found in.
  for (const auto& error : {*several, *unknown}) {
    EXPECT_NE(error.detail().find("Ana"), std::string::npos) << error;
    EXPECT_NE(error.detail().find("Juan (" + std::string(kSampleUserSid) + ")"), std::string::npos)
        << error;
  }
  EXPECT_EQ(unknown->detail().substr(0, 6), "Pedro\n");
  EXPECT_EQ(installation.Hives("ana").user_sid, "");
}

TEST_F(SampleInstallationTest, AHibernatedVolumeOrAMissingWindowsFolderIsRefused) {
  WriteBytes(dir_.path() / "hiberfil.sys", Bytes("HIBR and the rest of the image"));
  const auto hibernated = ErrorFrom([&] { Installation::Find(dir_.path()); });
  ASSERT_TRUE(hibernated.has_value());
  EXPECT_EQ(hibernated->kind(), ErrorKind::kHibernated);
  EXPECT_EQ(hibernated->path(), dir_.path() / "hiberfil.sys");
  WriteBytes(dir_.path() / "hiberfil.sys",
             std::vector<std::uint8_t>(64, 0));  // after a full shutdown
  EXPECT_NO_THROW(Installation::Find(dir_.path()));
  EXPECT_EQ(ErrorFrom([&] { Installation::Find(dir_.path() / "WINDOWS"); })->kind(),
            ErrorKind::kNoWindowsFolder);
  fs::remove(dir_.path() / "WINDOWS" / "system32" / "config" / "system");
  EXPECT_EQ(ErrorFrom([&] { Installation::Find(dir_.path()); })->kind(),
            ErrorKind::kInstallationIncomplete);
  EXPECT_FALSE(LooksLikeInstallation(dir_.path()));
}

TEST_F(SampleInstallationTest, FilesAreFoundWithoutRegardToCaseAndReplacedSafely) {
  OfflineFiles files(dir_.path(), "C:", false);
  EXPECT_EQ(files.Map("C:\\Windows\\System32\\Drivers\\ETC\\HOSTS"), Hosts());
  EXPECT_EQ(files.Map("D:\\WINDOWS"), std::nullopt);
  EXPECT_TRUE(files.IsPlainFile("c:\\windows\\SYSTEM32\\srsvc.dll"));
  EXPECT_FALSE(files.IsPlainFile("C:\\WINDOWS\\system32"));
  EXPECT_FALSE(files.IsPlainFile("C:\\WINDOWS\\system32\\nada.dll"));

  const auto content = Bytes("127.0.0.1 localhost\r\n");
  files.WriteReplacing("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", content);
  ASSERT_EQ(files.changes().size(), 1u);
  EXPECT_EQ(ReadBytes(Hosts()), Bytes(kSampleHosts));  // until the commit
  const auto report = CommitFiles(files.Pending());
  ASSERT_TRUE(report.errors.empty()) << report.errors.front();
  EXPECT_EQ(ReadBytes(Hosts()), content);
  ASSERT_EQ(report.written.size(), 1u);
  EXPECT_EQ(ReadBytes(report.written[0].backup), Bytes(kSampleHosts));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Hosts().parent_path()))
    ++entries;
  EXPECT_EQ(entries, 2u);  // hosts and its backup, no temporary file

  try {
    files.WriteReplacing("C:\\WINDOWS\\system32\\no-existe\\hosts", content);
    ADD_FAILURE();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 3);
  }
}

TEST_F(SampleInstallationTest, AttributesComeFromNtfsWhereTheFileHasThem) {
  OfflineFiles files(dir_.path(), "C:", false);
  const fs::path dll = dir_.path() / "WINDOWS" / "system32" / "srsvc.dll";
  const std::uint8_t hidden_system[4] = {0, 0, 0, 0x06};
  if (::setxattr(dll.c_str(), "system.ntfs_attrib_be", hidden_system, 4, 0) == 0) {
    EXPECT_FALSE(files.IsPlainFile("C:\\WINDOWS\\system32\\srsvc.dll"));
  }
  // Without ntfs-3g the mode bits tell read-only files apart.
  fs::permissions(Hosts(), fs::perms::owner_read | fs::perms::group_read);
  const auto before = ReadBytes(Hosts());
  try {
    files.WriteReplacing("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", Bytes("x"));
    ADD_FAILURE();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 5);
    EXPECT_NE(failure.description().find("hosts"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(Hosts()), before);
}

TEST_F(SampleInstallationTest, DryRunChecksEverythingAndWritesNothing) {
  OfflineFiles files(dir_.path(), "C:", true);
  const auto before = FolderContents(dir_.path());
  files.WriteReplacing("C:\\WINDOWS\\system32\\drivers\\etc\\hosts",
                       Bytes("127.0.0.1 localhost\r\n"));
  EXPECT_EQ(files.changes().size(), 1u);
  EXPECT_EQ(FolderContents(dir_.path()), before);
  EXPECT_THROW(files.WriteReplacing("C:\\NADA\\hosts", Bytes("x")), Failure);
}

TEST_F(SampleInstallationTest, WmiAnswersFromTheServiceKeysAndWritesThroughTheRegistry) {
  HiveRegistry registry(Installation::Find(dir_.path()).Hives(""), false);
  OfflineWmi wmi(registry);
  auto services = wmi.BindMoniker("winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2");
  const AutomationArg query[] = {
      std::string("Select * from Win32_Service Where Name ='SRSERVICE'")};
  auto collection = services->Invoke("ExecQuery", query);
  auto each = collection->NewEnum();
  int instances = 0;
  while (auto instance = each->Next()) {
    EXPECT_EQ(instance->Invoke("StopService", {}), nullptr);
    ++instances;
  }
  EXPECT_EQ(instances, 1);
  const AutomationArg unknown[] = {std::string("Select * from Win32_Service Where Name ='nada'")};
  EXPECT_EQ(services->Invoke("ExecQuery", unknown)->NewEnum()->Next(), nullptr);
  EXPECT_EQ(wmi.calls.back(), "ExecQuery Select * from Win32_Service Where Name ='nada'");

  auto provider = wmi.BindMoniker("Winmgmts:root\\default:StdRegProv");
  const AutomationArg args[] = {static_cast<std::int32_t>(kHkeyLocalMachine),
                                std::string("SYSTEM\\CurrentControlSet\\Services\\srservice"),
                                std::string("Security"),
                                std::vector<std::int32_t>{1, 0, 0x14, 0x80}};
  EXPECT_EQ(provider->Invoke("SetBinaryValue", args), nullptr);
  const auto written =
      Query(registry, kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\srservice", "Security");
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->first, kRegBinary);
  EXPECT_EQ(written->second, (std::vector<std::uint8_t>{1, 0, 0x14, 0x80}));
  EXPECT_THROW(wmi.BindMoniker("winmgmts:root\\nada"), Failure);
}

// Sets TMPDIR for a scope.
class TemporaryFolderSetting {
 public:
  explicit TemporaryFolderSetting(const fs::path& folder) {
    const char* old = std::getenv("TMPDIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    ::setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TemporaryFolderSetting() {
    if (had_old_) {
      ::setenv("TMPDIR", old_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  TemporaryFolderSetting(const TemporaryFolderSetting&) = delete;
  TemporaryFolderSetting& operator=(const TemporaryFolderSetting&) = delete;

 private:
  bool had_old_ = false;
  std::string old_;
};

// The lock belongs to the installation itself: another path to it or
// another temporary folder does not get a second program in, another
// installation is free, and nothing is left behind.
TEST_F(SampleInstallationTest, OneProgramPerInstallationWhateverThePath) {
  TempDir temporary_a;
  TempDir temporary_b;
  TempDir elsewhere;
  fs::create_directory_symlink(dir_.path(), elsewhere.path() / "otra");
  TempDir other;
  MakeSampleInstallation(other.path());
  const auto before = FolderContents(dir_.path());
  {
    std::unique_ptr<InstanceLock> first;
    {
      TemporaryFolderSetting tmpdir(temporary_a.path());
      first = std::make_unique<InstanceLock>(Installation::Find(dir_.path()));
    }
    EXPECT_TRUE(first->held());
    TemporaryFolderSetting tmpdir(temporary_b.path());
    EXPECT_FALSE(InstanceLock(Installation::Find(dir_.path())).held());
    EXPECT_FALSE(InstanceLock(Installation::Find(elsewhere.path() / "otra")).held());
    EXPECT_TRUE(InstanceLock(Installation::Find(other.path())).held());
    EXPECT_TRUE(fs::is_empty(temporary_a.path()));
    EXPECT_TRUE(fs::is_empty(temporary_b.path()));
  }
  EXPECT_TRUE(InstanceLock(Installation::Find(dir_.path())).held());
  EXPECT_EQ(FolderContents(dir_.path()), before);
}

TEST(OfflineToken, EnablingAPrivilegeSucceeds) {
  OfflineToken token;
  HandleRef handle = 0;
  ASSERT_TRUE(token.OpenProcessToken(token.CurrentProcess(), kTokenAdjustPrivileges | kTokenQuery,
                                     &handle));
  TokenPrivileges privileges;
  ASSERT_TRUE(token.LookupPrivilege("SeDebugPrivilege", &privileges.luid));
  privileges.attributes = kSePrivilegeEnabled;
  EXPECT_TRUE(token.AdjustPrivileges(handle, false, privileges));
  EXPECT_EQ(token.LastError(), 0u);
  EXPECT_FALSE(token.LookupPrivilege("SeNoSuchPrivilege", &privileges.luid));
  EXPECT_EQ(token.LastError(), kErrorNoSuchPrivilege);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
