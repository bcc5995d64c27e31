// What Sorbantilex.exe carries: its version resource, its icons and its
// manifest.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/text.h"

namespace sorbantilex {
namespace {

// The program's path as Windows sees it (a Linux build path under Wine is
// on drive Z:).
std::wstring ProgramPath() {
  std::string path = SORBANTILEX_EXE;
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
  }
  return win32::Wide(path);
}

TEST(ProgramResources, VersionResourceHoldsExactlyTheProgramsStrings) {
  const std::wstring path = ProgramPath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << win32::Utf8(path);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translations), &length));
  ASSERT_EQ(length, sizeof(Translation));
  EXPECT_EQ(translations->language, 0x0409);
  EXPECT_EQ(translations->code_page, 0x04B0);

  const std::map<std::wstring, std::string> expected = {
      {L"FileVersion", "1.09.0002"},
      {L"ProductVersion", "1.09.0002"},
      {L"ProductName", "Sorbantilex"},
      {L"InternalName", "Sorbantilex v192"},
      {L"OriginalFilename", "Sorbantilex v192.exe"},
  };
  for (const auto& [name, value] : expected) {
    wchar_t* text = nullptr;
    const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
    ASSERT_TRUE(
        ::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
        << win32::Utf8(name);
    EXPECT_EQ(win32::Utf8(text), value) << win32::Utf8(name);
  }
  for (const wchar_t* absent :
       {L"CompanyName", L"FileDescription", L"LegalCopyright", L"Comments"}) {
    wchar_t* text = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + absent;
    EXPECT_FALSE(
        ::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) &&
        length > 0)
        << win32::Utf8(absent);
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010009u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
}

// On a Remote Desktop server in application mode an unmarked program gets
// the user's private Windows folder where it asks for the system's.
TEST(ProgramResources, MarkedAsAwareOfRemoteDesktopServers) {
  std::FILE* file = ::_wfopen(ProgramPath().c_str(), L"rb");
  ASSERT_NE(file, nullptr);
  std::vector<unsigned char> head(4096);
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fclose(file);
  ASSERT_GE(head.size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, head.data(), sizeof dos);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  const std::size_t optional =
      static_cast<std::size_t>(dos.e_lfanew) + 4 + sizeof(IMAGE_FILE_HEADER);
  ASSERT_LE(optional + sizeof(IMAGE_OPTIONAL_HEADER64), head.size());
  WORD characteristics = 0;
  IMAGE_OPTIONAL_HEADER32 header32;
  std::memcpy(&header32, head.data() + optional, sizeof header32);
  if (header32.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    IMAGE_OPTIONAL_HEADER64 header64;
    std::memcpy(&header64, head.data() + optional, sizeof header64);
    characteristics = header64.DllCharacteristics;
  } else {
    characteristics = header32.DllCharacteristics;
  }
  EXPECT_NE(characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, 0);
}

TEST(ProgramResources, IconsAndManifest) {
  const HMODULE program =
      ::LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
#pragma pack(push, 2)
  struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
  };
#pragma pack(pop)
  // (size, bits per pixel) of each image.
  auto images = [&](int id) {
    std::vector<std::pair<int, int>> found;
    const HRSRC resource = ::FindResourceW(program, MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    if (resource == nullptr) return found;
    const auto* group = static_cast<const WORD*>(::LockResource(::LoadResource(program, resource)));
    const auto* entries = reinterpret_cast<const GroupEntry*>(group + 3);
    for (WORD i = 0; i < group[2]; ++i) {
      found.emplace_back(entries[i].width == 0 ? 256 : entries[i].width, entries[i].bit_count);
    }
    return found;
  };
  EXPECT_EQ(images(101), (std::vector<std::pair<int, int>>{{32, 8}}));
  EXPECT_EQ(
      images(102),
      (std::vector<std::pair<int, int>>{
          {48, 4}, {48, 8}, {48, 32}, {32, 4}, {32, 8}, {32, 32}, {16, 4}, {16, 8}, {16, 32}}));

  const HRSRC manifest = ::FindResourceW(program, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr);
  const std::string text(
      static_cast<const char*>(::LockResource(::LoadResource(program, manifest))),
      ::SizeofResource(program, manifest));
  for (const char* part :
       {"level=\"highestAvailable\"", "Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
        "PerMonitorV2", "true/pm", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
  ::FreeLibrary(program);
}

}  // namespace
}  // namespace sorbantilex

namespace sorbantilex {
namespace {

struct FoundWindow {
  DWORD process;
  const wchar_t* window_class;
  HWND hwnd;
};

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<FoundWindow*>(param);
  DWORD process = 0;
  ::GetWindowThreadProcessId(hwnd, &process);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (process == found->process && std::wstring(name) == found->window_class &&
      ::IsWindowVisible(hwnd)) {
    found->hwnd = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForWindow(DWORD process, const wchar_t* window_class) {
  for (int waited = 0; waited < 20000; waited += 50) {
    FoundWindow found{process, window_class, nullptr};
    ::EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&found));
    if (found.hwnd != nullptr) return found.hwnd;
    ::Sleep(50);
  }
  return nullptr;
}

PROCESS_INFORMATION Start() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + ProgramPath() + L"\"";
  EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
  return process;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process) {
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &code);
  } else {
    ::TerminateProcess(process.hProcess, 99);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

// The program itself: it opens its window, refuses a second copy with its
// message, and ends when its window is closed.
TEST(Program, StartsRefusesASecondCopyAndEndsWhenClosed) {
  const PROCESS_INFORMATION first = Start();
  const HWND main = WaitForWindow(first.dwProcessId, L"SorbantilexMenu");
  ASSERT_NE(main, nullptr);
  wchar_t title[64] = {};
  ::GetWindowTextW(main, title, 64);
  EXPECT_EQ(std::wstring(title), L"Sorbantilex 1.9.2");

  const PROCESS_INFORMATION second = Start();
  const HWND box = WaitForWindow(second.dwProcessId, L"#32770");
  ASSERT_NE(box, nullptr);
  wchar_t text[256] = {};
  ::GetDlgItemTextW(box, 0xFFFF, text, 256);
  EXPECT_EQ(win32::Utf8(text), "Sorbantilex ya se encuentra ejecutando.");
  ::GetWindowTextW(box, title, 64);
  EXPECT_EQ(std::wstring(title), L"Sorbantilex");
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
  EXPECT_EQ(WaitForExit(second), 2u);  // refused
  EXPECT_TRUE(::IsWindow(main));

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(first), 0u);
}

}  // namespace
}  // namespace sorbantilex
