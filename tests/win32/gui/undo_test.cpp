// The undo file of the program itself: a run of Sorbantilex.exe, started
// from a folder of its own, leaves its undo file there, and the system's
// regedit ("regedit /s FILE") puts the registry back as it was before the
// run.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/menu.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_registry.h"
#include "registry/key_names.h"
#include "registry/registro.h"

namespace sorbantilex {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSystemPolicy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
const std::string kWinlogon = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::string kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";

// A key with its values and subkeys sorted by upper-cased name.
struct Tree {
  std::string name;
  std::vector<std::tuple<std::string, std::uint32_t, Bytes>> values;
  std::vector<Tree> subkeys;
  friend bool operator==(const Tree&, const Tree&) = default;
};

void PrintTo(const Tree& tree, std::ostream* out) {
  *out << "[" << tree.name << "]";
  for (const auto& [name, type, data] : tree.values) {
    *out << " \"" << name << "\"=" << type << ":" << std::string(data.begin(), data.end());
  }
  for (const auto& child : tree.subkeys) PrintTo(child, out);
}

std::optional<Tree> Read(RegistryApi& registry, KeyRef root, const std::string& path) {
  KeyRef key = kNullKey;
  if (registry.OpenKey(root, path, 0, kKeyRead, &key) != kErrorSuccess) return std::nullopt;
  Tree tree{path.substr(path.find_last_of('\\') + 1), {}, {}};
  for (std::uint32_t i = 0;; ++i) {
    std::string name;
    std::uint32_t type = 0;
    Bytes data;
    if (registry.EnumValue(key, i, &name, &type, &data) != kErrorSuccess) break;
    tree.values.emplace_back(name, type, data);
  }
  std::vector<std::string> children;
  for (std::uint32_t i = 0;; ++i) {
    char name[512];
    std::uint32_t length = sizeof name;
    if (registry.EnumKey(key, i, name, &length) != kErrorSuccess) break;
    children.emplace_back(name, length);
  }
  registry.CloseKey(key);
  for (const auto& child : children) {
    if (auto subtree = Read(registry, root, path + "\\" + child)) tree.subkeys.push_back(*subtree);
  }
  std::ranges::sort(tree.values, {}, [](const auto& v) { return UpperName(std::get<0>(v)); });
  std::ranges::sort(tree.subkeys, {}, [](const Tree& t) { return UpperName(t.name); });
  return tree;
}

void Put(RegistryApi& registry, KeyRef root, const std::string& path, std::string_view name,
         std::uint32_t type, const Bytes& data) {
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(root, path, 0, kKeySetValue, &key, nullptr), kErrorSuccess) << path;
  ASSERT_EQ(registry.SetValue(key, name, type, data), kErrorSuccess);
  registry.CloseKey(key);
}

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

std::wstring ProgramPath() {
  std::string path = SORBANTILEX_EXE;
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
  }
  return win32::Wide(path);
}

// A fresh folder in the temporary folder, removed with its files.
class Folder {
 public:
  Folder() {
    wchar_t base[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, base);
    path_ = std::wstring(base) + L"sorbantilex-deshacer-" + std::to_wstring(::GetTickCount());
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~Folder() {
    for (const auto& name : Names(L"*")) ::DeleteFileW((path_ + L"\\" + name).c_str());
    ::RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }
  std::vector<std::wstring> Names(const wchar_t* pattern) const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((path_ + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }

 private:
  std::wstring path_;
};

DWORD RunAndWait(std::wstring command, DWORD timeout_ms = 60000) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return static_cast<DWORD>(-1);
  }
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &code);
  } else {
    ::TerminateProcess(process.hProcess, 99);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

// Imports `file` as a user does by opening it or from a command prompt:
// with the system's own regedit, which on 64-bit Windows is a 64-bit
// program. This test is a 32-bit process under WOW64 in the x86 build;
// a regedit it started directly would be the 32-bit one, which writes
// HKEY_LOCAL_MACHINE\SOFTWARE into the 32-bit view, not the one the
// program repairs. It is started through the native command interpreter
// instead, as a 64-bit parent would start it.
DWORD ImportWithRegedit(const std::wstring& file) {
  if (!RunningUnderWow64()) return RunAndWait(L"regedit.exe /s \"" + file + L"\"");
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return static_cast<DWORD>(-1);
  const std::wstring folder(windows, length);
  return RunAndWait(L"\"" + folder + L"\\Sysnative\\cmd.exe\" /c \"\"" + folder +
                    L"\\regedit.exe\" /s \"" + file + L"\"\"");
}

struct Found {
  DWORD process;
  std::wstring window_class;
  std::wstring text;
  HWND hwnd = nullptr;
};

BOOL CALLBACK FindWindowOf(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  DWORD process = 0;
  ::GetWindowThreadProcessId(hwnd, &process);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (process == found->process && found->window_class == name && ::IsWindowVisible(hwnd)) {
    found->hwnd = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForWindow(DWORD process, const wchar_t* window_class) {
  for (int waited = 0; waited < 20000; waited += 50) {
    Found found{process, window_class, {}};
    ::EnumWindows(&FindWindowOf, reinterpret_cast<LPARAM>(&found));
    if (found.hwnd != nullptr) return found.hwnd;
    ::Sleep(50);
  }
  return nullptr;
}

BOOL CALLBACK FindChildByText(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  wchar_t text[256] = {};
  ::GetWindowTextW(hwnd, text, 256);
  if (found->text == text) {
    found->hwnd = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND Child(HWND window, std::string_view caption) {
  Found found{0, {}, win32::Wide(caption)};
  ::EnumChildWindows(window, &FindChildByText, reinterpret_cast<LPARAM>(&found));
  return found.hwnd;
}

std::string_view Caption(std::string_view array, int index) {
  for (const Control& control : Menu::Controls()) {
    if (control.name == array && control.index == index) return control.caption;
  }
  return {};
}

TEST(ProgramUndo, RegeditPutsBackWhatARunChanged) {
  Win32Registry registry;
  Registro registro(registry);
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    registro.EliminarClave(root, kSystemPolicy);
  }
  registro.EliminarClave(kHkeyLocalMachine, kSafeBoot);
  Put(registry, kHkeyLocalMachine, kSafeBoot + "\\Minimal\\evil.sys", "", kRegSz, Text("Driver"));
  Put(registry, kHkeyLocalMachine, kWinlogon, "Shell", kRegSz, Text(std::string("evil.exe\0", 9)));
  const std::string policy = kSystemPolicy + "\\Más \"raro\"";
  const std::vector<std::tuple<std::string, std::uint32_t, Bytes>> values = {
      {"", kRegSz, Text(std::string("\0", 1))},
      {"DisableTaskMgr", kRegDword, {1, 0, 0, 0}},
      {"con \"comillas\" y \\barra = igual", kRegSz, Text(std::string("ñandú\0", 8))},
      {"Expand", kRegExpandSz, Text(std::string("%SystemRoot%\\x\0", 15))},
      {"Multi", kRegMultiSz, Text(std::string("a\0b\0\0", 5))},
      {"Qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"Binary", kRegBinary, Bytes(90, 0xAB)},
      // No string without its terminator here: Wine's regedit adds one to
      // `hex(1):` data on import. The in-memory round trip covers that case.
  };
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const auto& [name, type, data] : values) Put(registry, root, policy, name, type, data);
  }
  const auto state = [&] {
    return std::vector{Read(registry, kHkeyLocalMachine, kSystemPolicy),
                       Read(registry, kHkeyCurrentUser, kSystemPolicy),
                       Read(registry, kHkeyLocalMachine, kWinlogon),
                       Read(registry, kHkeyLocalMachine, kSafeBoot)};
  };
  const auto before = state();

  // The program, run from a folder of its own, repairs three things.
  Folder folder;
  const std::wstring program = folder.path() + L"\\Sorbantilex.exe";
  ASSERT_TRUE(::CopyFileW(ProgramPath().c_str(), program.c_str(), FALSE));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + program + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               folder.path().c_str(), &startup, &process));
  const HWND main = WaitForWindow(process.dwProcessId, L"SorbantilexMenu");
  ASSERT_NE(main, nullptr);
  for (const auto& [array, index] :
       {std::pair{"checkPolicies", 0}, std::pair{"checkFixes", 1}, std::pair{"checkFixes", 3}}) {
    const HWND box = Child(main, Caption(array, index));
    ASSERT_NE(box, nullptr) << array << index;
    ::SendMessageW(box, BM_CLICK, 0, 0);
  }
  ::PostMessageW(Child(main, "Unlock!"), BM_CLICK, 0, 0);
  const HWND finished = WaitForWindow(process.dwProcessId, L"#32770");
  ASSERT_NE(finished, nullptr);
  // Written before the final message: a restart while it waits leaves it.
  EXPECT_EQ(folder.Names(L"Sorbantilex-deshacer-*.reg").size(), 1u);
  ::PostMessageW(finished, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(finished, IDOK)));
  EXPECT_EQ(::WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  const auto repaired = state();
  ASSERT_NE(repaired, before);
  const auto files = folder.Names(L"Sorbantilex-deshacer-*.reg");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(folder.Names(L"*.tmp").empty());

  // Applied as a user would from a command prompt.
  const std::wstring undo = folder.path() + L"\\" + files.front();
  EXPECT_EQ(ImportWithRegedit(undo), 0u);
  const auto restored = state();
  EXPECT_EQ(restored[0], before[0]);
  EXPECT_EQ(restored[1], before[1]);
  EXPECT_EQ(restored[2], before[2]);
  EXPECT_EQ(restored[3], before[3]);

  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    registro.EliminarClave(root, kSystemPolicy);
  }
}

// A session that ends while the run waits for the start-page dialog (a
// logoff, a restart) ends the program without a word; the part of the run
// that took place is in the undo file by then.
TEST(ProgramUndo, TheEndOfTheSessionLeavesTheUndoFile) {
  Win32Registry registry;
  Registro registro(registry);
  registro.EliminarClave(kHkeyCurrentUser, kSystemPolicy);
  Put(registry, kHkeyCurrentUser, kSystemPolicy, "DisableTaskMgr", kRegDword, {1, 0, 0, 0});
  const auto before = Read(registry, kHkeyCurrentUser, kSystemPolicy);

  Folder folder;
  const std::wstring program = folder.path() + L"\\Sorbantilex.exe";
  ASSERT_TRUE(::CopyFileW(ProgramPath().c_str(), program.c_str(), FALSE));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + program + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               folder.path().c_str(), &startup, &process));
  const HWND main = WaitForWindow(process.dwProcessId, L"SorbantilexMenu");
  ASSERT_NE(main, nullptr);
  for (const auto& [array, index] :
       {std::pair{"checkPolicies", 0}, std::pair{"checkInternet", 0}}) {
    const HWND box = Child(main, Caption(array, index));
    ASSERT_NE(box, nullptr) << array << index;
    ::SendMessageW(box, BM_CLICK, 0, 0);
  }
  ::PostMessageW(Child(main, "Unlock!"), BM_CLICK, 0, 0);
  ASSERT_NE(WaitForWindow(process.dwProcessId, L"SorbantilexIniRem"), nullptr);
  EXPECT_TRUE(folder.Names(L"Sorbantilex-deshacer-*.reg").empty());

  DWORD_PTR answer = 0;
  ::SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000,
                        &answer);
  ASSERT_TRUE(::SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                    10000, &answer));
  ::TerminateProcess(process.hProcess, 1);  // as the system does once the session has ended
  ::WaitForSingleObject(process.hProcess, 20000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  ASSERT_NE(Read(registry, kHkeyCurrentUser, kSystemPolicy), before);
  const auto files = folder.Names(L"Sorbantilex-deshacer-*.reg");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ImportWithRegedit(folder.path() + L"\\" + files.front()), 0u);
  EXPECT_EQ(Read(registry, kHkeyCurrentUser, kSystemPolicy), before);
  registro.EliminarClave(kHkeyCurrentUser, kSystemPolicy);
}

}  // namespace
}  // namespace sorbantilex
