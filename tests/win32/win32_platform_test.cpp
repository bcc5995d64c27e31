// The file, system-information, token and WMI functions of the live
// Windows platform.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/text.h"
#include "platform/win32/unique_handles.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_system_info.h"
#include "platform/win32/win32_token.h"
#include "platform/win32/win32_wmi.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A fresh folder under the temporary folder, removed with its files.
class Folder {
 public:
  Folder() {
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, base);
    path_ = std::wstring(base) + L"sorbantilex-" + std::to_wstring(::GetCurrentProcessId());
    Remove();
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~Folder() { Remove(); }

  std::string File(std::string_view name) const {
    return win32::Utf8(path_) + "\\" + std::string(name);
  }

  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }

 private:
  void Remove() {
    for (const auto& name : Names()) {
      const std::wstring file = path_ + L"\\" + name;
      ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!::DeleteFileW(file.c_str())) ::RemoveDirectoryW(file.c_str());
    }
    ::RemoveDirectoryW(path_.c_str());
  }

  std::wstring path_;
};

void Write(const std::string& path, std::string_view content, DWORD attributes = 0) {
  std::ofstream(std::filesystem::path(win32::Wide(path)), std::ios::binary) << content;
  if (attributes != 0) ::SetFileAttributesW(win32::Wide(path).c_str(), attributes);
}

std::string Read(const std::string& path) {
  std::ifstream in(std::filesystem::path(win32::Wide(path)), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Win32Files, APlainFileIsOneWithoutHiddenSystemOrFolderAttributes) {
  Folder folder;
  struct Case {
    const char* name;
    DWORD attributes;
    bool plain;
  };
  const Case cases[] = {
      {"normal.dll", FILE_ATTRIBUTE_NORMAL, true},
      {"readonly.dll", FILE_ATTRIBUTE_READONLY, true},
      {"archive.dll", FILE_ATTRIBUTE_ARCHIVE, true},
      {"hidden.dll", FILE_ATTRIBUTE_HIDDEN, false},
      {"system.dll", FILE_ATTRIBUTE_SYSTEM, false},
  };
  Win32Files files;
  for (const auto& c : cases) {
    Write(folder.File(c.name), "MZ", c.attributes);
    EXPECT_EQ(files.IsPlainFile(folder.File(c.name)), c.plain) << c.name;
  }
  ::CreateDirectoryW(win32::Wide(folder.File("srsvc.dll")).c_str(), nullptr);
  EXPECT_FALSE(files.IsPlainFile(folder.File("srsvc.dll")));
  EXPECT_FALSE(files.IsPlainFile(folder.File("missing.dll")));
}

TEST(Win32Files, ReplacingWritesExactlyTheNewContentAndLeavesNoTemporaryFile) {
  Folder folder;
  const std::string hosts = folder.File("hosts");
  const std::string old_content =
      "# comentario\r\n127.0.0.1 localhost\r\n6.6.6.6 www.banco.example\r\n";
  Write(hosts, old_content);
  Win32Files files;
  files.WriteReplacing(hosts, Bytes("127.0.0.1 localhost\r\n"));
  EXPECT_EQ(Read(hosts), "127.0.0.1 localhost\r\n");
  // Beside it only the dated copy of the old file, no temporary file.
  auto names = folder.Names();
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], L"hosts");
  EXPECT_EQ(names[1].rfind(L"hosts.sorbantilex-", 0), 0u);
  EXPECT_TRUE(names[1].ends_with(L".bak"));
  EXPECT_EQ(Read(folder.File(win32::Utf8(names[1]))), old_content);

  const std::string fresh = folder.File("nuevo");
  files.WriteReplacing(fresh, Bytes("x"));
  EXPECT_EQ(Read(fresh), "x");
}

TEST(Win32Files, AFailedReplaceKeepsTheOldFileAndNamesIt) {
  Folder folder;
  const std::string hosts = folder.File("hosts");
  const std::string old = "6.6.6.6 www.banco.example\r\n";
  Win32Files files;

  // Read-only file.
  Write(hosts, old, FILE_ATTRIBUTE_READONLY);
  try {
    files.WriteReplacing(hosts, Bytes("127.0.0.1 localhost\r\n"));
    ADD_FAILURE() << "a read-only file was replaced";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), ERROR_ACCESS_DENIED);
    EXPECT_NE(failure.description().find(hosts), std::string::npos) << failure.description();
  }
  EXPECT_EQ(Read(hosts), old);
  EXPECT_EQ(folder.Names(), std::vector<std::wstring>{L"hosts"});
  ::SetFileAttributesW(win32::Wide(hosts).c_str(), FILE_ATTRIBUTE_NORMAL);

  // File held open by another program that shares nothing.
  {
    win32::UniqueHandle lock(::CreateFileW(win32::Wide(hosts).c_str(), GENERIC_READ, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(lock.get(), INVALID_HANDLE_VALUE);
    try {
      files.WriteReplacing(hosts, Bytes("127.0.0.1 localhost\r\n"));
      ADD_FAILURE() << "a locked file was replaced";
    } catch (const Failure& failure) {
      // Windows versions differ here; Wine says access denied.
      EXPECT_TRUE(failure.number() == ERROR_SHARING_VIOLATION ||
                  failure.number() == ERROR_ACCESS_DENIED)
          << failure.description();
    }
  }
  EXPECT_EQ(Read(hosts), old);
  EXPECT_EQ(folder.Names(), std::vector<std::wstring>{L"hosts"});

  // Missing folder.
  const std::string nowhere = folder.File("etc\\hosts");
  try {
    files.WriteReplacing(nowhere, Bytes("127.0.0.1 localhost\r\n"));
    ADD_FAILURE() << "a file was written into a missing folder";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), ERROR_PATH_NOT_FOUND);
    EXPECT_NE(failure.description().find(nowhere), std::string::npos) << failure.description();
  }
  EXPECT_EQ(folder.Names(), std::vector<std::wstring>{L"hosts"});
}

TEST(Win32SystemInfo, ReadsTheEnvironmentWithoutRegardToLetterCase) {
  Win32SystemInfo system;
  ::SetEnvironmentVariableW(L"SORBANTILEX_PRUEBA", L"Configuración");
  ::SetEnvironmentVariableW(L"SORBANTILEX_VACIA", L"");
  EXPECT_EQ(system.Environment("sorbantilex_prueba"), "Configuración");
  EXPECT_EQ(system.Environment("SORBANTILEX_VACIA"), "");
  EXPECT_EQ(system.Environment("SORBANTILEX_NO_EXISTE"), std::nullopt);
  EXPECT_EQ(system.Environment("OS"), "Windows_NT");
  ::SetEnvironmentVariableW(L"SORBANTILEX_PRUEBA", nullptr);
  ::SetEnvironmentVariableW(L"SORBANTILEX_VACIA", nullptr);
}

TEST(Win32SystemInfo, GivesTheWindowsDirectoryAndAnNtVersion) {
  Win32SystemInfo system;
  EXPECT_EQ(system.WindowsDirectory(), system.Environment("SystemRoot"));
  EXPECT_TRUE(Win32Files().IsPlainFile(system.WindowsDirectory() + "\\system32\\kernel32.dll"))
      << "kernel32.dll shows as hidden or missing";
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  EXPECT_TRUE(system.Version(&major, &minor));
  EXPECT_GE(major, 5u);
}

// The real version is the kernel's own, which no compatibility mode
// changes: the one in the page the kernel shares with every process
// (KUSER_SHARED_DATA at 0x7FFE0000, NtMajorVersion and NtMinorVersion at
// 0x26C and 0x270). GetVersionEx never says a later one.
TEST(Win32SystemInfo, GivesTheKernelsOwnVersionAsTheRealOne) {
  Win32SystemInfo system;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  ASSERT_TRUE(system.RealVersion(&major, &minor));
  const auto shared = [](std::uintptr_t address) {
    return *reinterpret_cast<const volatile ULONG*>(address);
  };
  EXPECT_EQ(major, shared(0x7FFE026C));
  EXPECT_EQ(minor, shared(0x7FFE0270));
  std::uint32_t reported_major = 0;
  std::uint32_t reported_minor = 0;
  ASSERT_TRUE(system.Version(&reported_major, &reported_minor));
  EXPECT_GE(std::pair(major, minor), std::pair(reported_major, reported_minor));
}

TEST(Win32Token, EnablesAPrivilegeTheTokenHoldsAndRefusesAnUnknownOne) {
  Win32Token token;
  HandleRef handle = 0;
  ASSERT_TRUE(token.OpenProcessToken(token.CurrentProcess(), kTokenAdjustPrivileges | kTokenQuery,
                                     &handle));
  EXPECT_NE(handle, 0u);

  Luid luid;
  ASSERT_TRUE(token.LookupPrivilege("SeShutdownPrivilege", &luid));
  TokenPrivileges privileges;
  privileges.luid = luid;
  privileges.attributes = kSePrivilegeEnabled;
  EXPECT_TRUE(token.AdjustPrivileges(handle, false, privileges));
  // 0, or 1300 for a token without the privilege: the call itself succeeds.
  EXPECT_TRUE(token.LastError() == 0 || token.LastError() == kErrorNotAllAssigned)
      << token.LastError();

  EXPECT_FALSE(token.LookupPrivilege("SeNoSuchPrivilege", &luid));
  EXPECT_EQ(token.LastError(), kErrorNoSuchPrivilege);
  EXPECT_TRUE(token.CloseHandle(handle));
  EXPECT_FALSE(token.CloseHandle(handle));
  EXPECT_EQ(token.LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

constexpr std::string_view kCimv2 = "winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";

TEST(Win32Wmi, QueriesServicesAndWalksTheResult) {
  Win32Wmi wmi;
  auto services = wmi.BindMoniker(kCimv2);
  ASSERT_NE(services, nullptr);
  const AutomationArg query[] = {std::string("Select * from Win32_Service Where Name ='RpcSs'")};
  auto found = services->Invoke("ExecQuery", query);
  ASSERT_NE(found, nullptr);
  auto items = found->NewEnum();
  int count = 0;
  while (auto service = items->Next()) ++count;
  EXPECT_EQ(count, 1);

  const AutomationArg nothing[] = {
      std::string("Select * from Win32_Service Where Name ='NoExisteSorbantilex'")};
  EXPECT_EQ(services->Invoke("ExecQuery", nothing)->NewEnum()->Next(), nullptr);
}

TEST(Win32Wmi, FailuresCarryTheHresultAndAText) {
  Win32Wmi wmi;
  struct Case {
    const char* name;
    std::function<void()> call;
    std::int32_t number;  // 0: any failure HRESULT
  };
  const Case cases[] = {
      {"unknown moniker", [&] { wmi.BindMoniker("nomoniker:sorbantilex"); },
       0},  // MK_E_SYNTAX on Windows, MK_E_CANTOPENFILE under Wine
      {"unknown method", [&] { wmi.BindMoniker(kCimv2)->Invoke("NoSuchMethod", {}); },
       static_cast<std::int32_t>(DISP_E_UNKNOWNNAME)},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const Failure& failure) {
      if (c.number != 0) {
        EXPECT_EQ(failure.number(), c.number) << c.name;
      }
      EXPECT_LT(failure.number(), 0) << c.name;
      EXPECT_FALSE(failure.description().empty()) << c.name;
    }
  }
}

}  // namespace
}  // namespace sorbantilex
