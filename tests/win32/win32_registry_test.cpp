// The Windows registry behind RegistryApi: the shared conformance suite, and
// what the system itself ends up storing.

#include "platform/win32/win32_registry.h"

#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/text.h"
#include "platform/win32/unique_handles.h"
#include "registry/utf8.h"
#include "registry_conformance.h"

namespace sorbantilex {

INSTANTIATE_REGISTRY_CONFORMANCE(Win32,
                                 {"Win32", [] { return std::make_unique<Win32Registry>(); }});

namespace {

using win32::UniqueHkey;

constexpr wchar_t kBase[] = L"Software\\SorbantilexWin32";

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Ansi(std::string_view utf8) {
  const std::wstring wide = win32::Wide(utf8);
  std::string ansi(wide.size() * 2 + 1, '\0');
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(),
                            static_cast<int>(ansi.size()), nullptr, nullptr);
  ansi.resize(static_cast<std::size_t>(length));
  return ansi;
}

UniqueHkey OpenRaw(HKEY root, const std::wstring& path, REGSAM access = KEY_READ) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return nullptr;
  return UniqueHkey(key);
}

// Type and bytes exactly as the system keeps them.
std::pair<DWORD, std::vector<BYTE>> RawValue(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  std::vector<BYTE> data(size);
  ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
  data.resize(size);
  return {type, data};
}

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::SHDeleteKeyW(HKEY_CURRENT_USER, kBase); }
  void TearDown() override { ::SHDeleteKeyW(HKEY_CURRENT_USER, kBase); }

  KeyRef Create(std::string_view path) {
    KeyRef key = kNullKey;
    EXPECT_EQ(registry_.CreateKey(kHkeyCurrentUser, win32::Utf8(kBase) + "\\" + std::string(path),
                                  0, kRegistroAccess, &key, nullptr),
              kErrorSuccess);
    return key;
  }

  Win32Registry registry_;
};

// Text data goes in as the ANSI functions would store the same text: the
// same UTF-16 characters, no terminator added.
TEST_F(Win32RegistryTest, StoresTextDataAsTheAnsiFunctionsDo) {
  struct Case {
    const char* name;
    DWORD type;
    std::string text;
  };
  const Case cases[] = {
      {"Shell", REG_SZ, "Explorer.exe"},
      {"DisplayName", REG_SZ, "Servicio de restauración de sistema"},
      {"ImagePath", REG_EXPAND_SZ, "%SystemRoot%\\system32\\svchost.exe -k netsvcs"},
      {"DependOnService", REG_MULTI_SZ, "RpcSs"},
      {"DependOnGroup", REG_MULTI_SZ, ""},
  };
  const KeyRef ours = Create("Wide");
  UniqueHkey ansi;
  {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\Ansi").c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ansi.reset(key);
  }
  for (const auto& c : cases) {
    ASSERT_EQ(registry_.SetValue(ours, c.name, c.type, Bytes(c.text)), kErrorSuccess) << c.name;
    // A byte that is not zero follows the counted text, as in the program's
    // own buffers, so the A function stores exactly the counted bytes.
    std::string data = Ansi(c.text) + "x";
    ASSERT_EQ(
        ::RegSetValueExA(ansi.get(), c.name, 0, c.type, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size() - 1)),
        ERROR_SUCCESS);
  }
  const UniqueHkey wide = OpenRaw(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Wide");
  ASSERT_TRUE(wide);
  for (const auto& c : cases) {
    const std::wstring name = win32::Wide(c.name);
    const auto stored = RawValue(wide.get(), name.c_str());
    EXPECT_EQ(stored, RawValue(ansi.get(), name.c_str())) << c.name;
    EXPECT_EQ(stored.first, c.type) << c.name;
    EXPECT_EQ(stored.second.size(), win32::Wide(c.text).size() * 2) << c.name;
  }
  registry_.CloseKey(ours);
}

TEST_F(Win32RegistryTest, AccentedNamesReachTheSystemAsTheirOwnCharacters) {
  registry_.CloseKey(Create("Configuración\\Página"));
  // The same key through the ANSI functions, by its ANSI name.
  HKEY key = nullptr;
  const std::string ansi_path = Ansi(win32::Utf8(kBase) + "\\Configuración\\Página");
  ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, ansi_path.c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  ::RegCloseKey(key);

  const KeyRef parent = Create("Configuración");
  std::uint32_t count = 0;
  std::uint32_t longest = 0;
  ASSERT_EQ(registry_.QueryInfoKey(parent, &count, &longest), kErrorSuccess);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(longest, std::string("Página").size());  // UTF-8 bytes, not characters
  char name[16] = {};
  std::uint32_t length = static_cast<std::uint32_t>(std::string("Página").size()) + 1;
  ASSERT_EQ(registry_.EnumKey(parent, 0, name, &length), kErrorSuccess);
  EXPECT_EQ(std::string(name, length), "Página");
  registry_.CloseKey(parent);
}

TEST_F(Win32RegistryTest, TextThatIsNotUtf8IsRefusedAndNothingIsWritten) {
  const KeyRef key = Create("K");
  const std::string broken = "Sub\xC3";
  KeyRef sub = kNullKey;
  EXPECT_EQ(registry_.CreateKey(key, broken, 0, kRegistroAccess, &sub, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(registry_.SetValue(key, "v", kRegSz, Bytes(broken)), kErrorInvalidParameter);
  std::uint32_t count = 1;
  EXPECT_EQ(registry_.QueryInfoKey(key, &count, nullptr), kErrorSuccess);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(registry_.QueryValue(key, "v", nullptr, nullptr, nullptr), kErrorFileNotFound);
  registry_.CloseKey(key);
}

// String data another program stored reaches the program whole, in the form
// `Utf16LeToUtf8` gives: an odd last byte is kept, a lone surrogate is no
// replacement character. Through either reading call, since the undo file
// is made from what they give.
TEST_F(Win32RegistryTest, ReadsStoredTextWithoutLoss) {
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> stored;
  };
  const Case cases[] = {
      {L"OddLength", REG_SZ, {'a', 0, 'b', 0, 'c'}},
      {L"OneByte", REG_SZ, {0}},
      {L"LoneHigh", REG_EXPAND_SZ, {'x', 0, 0x3D, 0xD8, 0, 0}},
      {L"LoneLowOdd", REG_MULTI_SZ, {0x80, 0xDC, 0, 0, 0}},
  };
  const KeyRef key = Create("Raw");
  const UniqueHkey raw = OpenRaw(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Raw", KEY_SET_VALUE);
  ASSERT_TRUE(raw);
  for (const auto& c : cases) {
    ASSERT_EQ(::RegSetValueExW(raw.get(), c.name, 0, c.type, c.stored.data(),
                               static_cast<DWORD>(c.stored.size())),
              ERROR_SUCCESS);
  }
  for (std::uint32_t index = 0; index < std::size(cases); ++index) {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> listed;
    ASSERT_EQ(registry_.EnumValue(key, index, &name, &type, &listed), kErrorSuccess);
    const auto found = std::ranges::find_if(
        cases, [&](const Case& k) { return win32::Wide(name) == k.name; });  // Wine sorts them
    ASSERT_NE(found, std::end(cases)) << name;
    const Case& c = *found;
    const std::string expected = Utf16LeToUtf8(c.stored);
    EXPECT_EQ(type, c.type) << name;
    EXPECT_EQ(std::string(listed.begin(), listed.end()), expected) << name;

    std::uint32_t size = 0;
    ASSERT_EQ(registry_.QueryValue(key, name, nullptr, nullptr, &size), kErrorSuccess);
    std::vector<std::uint8_t> queried(size);
    ASSERT_EQ(registry_.QueryValue(key, name, nullptr, queried.data(), &size), kErrorSuccess);
    EXPECT_EQ(std::string(queried.begin(), queried.end()), expected) << name;
  }
  registry_.CloseKey(key);
}

// HKEY_LOCAL_MACHINE\SOFTWARE has a separate 32-bit copy on 64-bit Windows.
// Both builds must write the copy the system reads: the x64 build by being
// native, the x86 build by asking for the 64-bit view under WOW64.
TEST(Win32RegistryView, MachineSoftwareKeysLandInTheNativeView) {
  Win32Registry registry;
  const bool wow64 = RunningUnderWow64();
#ifdef _WIN64
  EXPECT_EQ(registry.view_flag(), 0u);
#else
  if (!wow64) GTEST_SKIP() << "32-bit Windows has one registry view";
  EXPECT_EQ(registry.view_flag(), static_cast<std::uint32_t>(KEY_WOW64_64KEY));
#endif
  (void)wow64;
  const std::wstring path = L"SOFTWARE\\SorbantilexView";
  KeyRef key = kNullKey;
  ASSERT_EQ(
      registry.CreateKey(kHkeyLocalMachine, win32::Utf8(path), 0, kRegistroAccess, &key, nullptr),
      kErrorSuccess);
  registry.CloseKey(key);
  EXPECT_TRUE(OpenRaw(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WOW64_64KEY));
  EXPECT_FALSE(OpenRaw(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WOW64_32KEY));

  EXPECT_EQ(registry.DeleteKey(kHkeyLocalMachine, win32::Utf8(path)), kErrorSuccess);
  EXPECT_FALSE(OpenRaw(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WOW64_64KEY));
}

}  // namespace
}  // namespace sorbantilex
