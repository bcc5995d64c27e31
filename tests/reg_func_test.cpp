#include "registry/reg_func.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/memory/memory_registry.h"
#include "recording_registry.h"

namespace sorbantilex {
namespace {

struct RootCase {
  const char* name;
  const char* path;
  KeyRef default_root;
  KeyRef expected_root;
  const char* expected_path;
};

class ExtraerClaveRaizCases : public ::testing::TestWithParam<RootCase> {};

TEST_P(ExtraerClaveRaizCases, SplitsRootAndPath) {
  const RootCase& c = GetParam();
  std::string path = c.path;
  EXPECT_EQ(Reg_Func::ExtraerClaveRaiz(path, c.default_root), c.expected_root);
  EXPECT_EQ(path, c.expected_path);
}

const RootCase kRootCases[] = {
    {"LongName", "HKEY_CURRENT_USER\\Software\\Microsoft", 0, kHkeyCurrentUser,
     "Software\\Microsoft"},
    {"EveryLongName", "HKEY_PERFORMANCE_DATA\\x", 0, kHkeyPerformanceData, "x"},
    {"DynData", "HKEY_DYN_DATA\\x", 0, kHkeyDynData, "x"},
    {"LongNameAlone", "HKEY_LOCAL_MACHINE", 0, kHkeyLocalMachine, ""},
    {"ShortPrefix", "HKCU\\Software", 0, kHkeyCurrentUser, "Software"},
    {"ShortUsers", "HKU\\S-1-5-18", 0, kHkeyUsers, "S-1-5-18"},
    {"ShortConfig", "HKCC\\System", 0, kHkeyCurrentConfig, "System"},
    {"ShortPrefixWithoutBackslash", "HKLM", kHkeyUsers, kHkeyUsers, "HKLM"},
    {"LowerCaseNotRecognised", "hkcu\\Software", 0, kHkeyClassesRoot, "hkcu\\Software"},
    {"LowerCaseLongName", "hkey_current_user\\Software", kHkeyLocalMachine, kHkeyLocalMachine,
     "hkey_current_user\\Software"},
    {"NoRootDefaultZero", "Software\\Classes", 0, kHkeyClassesRoot, "Software\\Classes"},
    {"NoRootValidDefault", "Software\\Classes", kHkeyLocalMachine, kHkeyLocalMachine,
     "Software\\Classes"},
    {"NoRootDefaultOutOfRange", "Software", 0x80000007u, kHkeyClassesRoot, "Software"},
    {"UnknownLongName", "HKEY_FOO\\Bar", kHkeyLocalMachine, kHkeyClassesRoot, "Bar"},
    {"HkeyFurtherOn", "Software\\HKEY_X", kHkeyLocalMachine, kHkeyClassesRoot, "HKEY_X"},
    {"LeadingBackslashKeepsDefaultAsPassed", "\\HKEY_X", 0x12345678u, 0x12345678u, "HKEY_X"},
    {"EmptyPath", "", kHkeyCurrentUser, kHkeyCurrentUser, ""},
};

INSTANTIATE_TEST_SUITE_P(Paths, ExtraerClaveRaizCases, ::testing::ValuesIn(kRootCases),
                         [](const auto& info) { return std::string(info.param.name); });

class ListarSubclavesTest : public ::testing::Test {
 protected:
  void Create(std::string_view path) {
    KeyRef key = kNullKey;
    ASSERT_EQ(memory_.CreateKey(kHkeyCurrentUser, path, 0, kRegistroAccess, &key, nullptr),
              kErrorSuccess);
    memory_.CloseKey(key);
  }

  MemoryRegistry memory_;
  RecordingRegistry recorder_{memory_};
  std::vector<std::string> list_{"viejo", "contenido"};
};

TEST_F(ListarSubclavesTest, PutsTheNamesAfterAnEmptyPlaceholder) {
  for (const char* name : {"Domains\\b.com", "Domains\\A.com", "Domains\\c.com\\www"}) {
    Create(name);
  }
  EXPECT_TRUE(Reg_Func::ListarSubclaves(recorder_, list_, "HKEY_CURRENT_USER\\Domains"));
  EXPECT_EQ(list_, (std::vector<std::string>{"", "A.com", "b.com", "c.com"}));
  EXPECT_EQ(recorder_.calls.front(), "Open(HKCU,Domains,20019)=0,H1");
  EXPECT_EQ(recorder_.calls.back(), "Close(H1)=0");
}

TEST_F(ListarSubclavesTest, AKeyWithoutSubkeysGivesOnlyThePlaceholder) {
  Create("Domains");
  EXPECT_TRUE(Reg_Func::ListarSubclaves(recorder_, list_, "HKCU\\Domains"));
  EXPECT_EQ(list_, std::vector<std::string>{""});
}

TEST_F(ListarSubclavesTest, AMissingKeyGivesFalseAndClosesTheNullHandle) {
  EXPECT_FALSE(Reg_Func::ListarSubclaves(recorder_, list_, "HKEY_CURRENT_USER\\Nada"));
  EXPECT_EQ(list_, std::vector<std::string>{""});
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{"Open(HKCU,Nada,20019)=2,0", "Close(0)=6"}));
}

TEST_F(ListarSubclavesTest, KeepsAnEntryAnsweredWithMoreDataAndSkipsOtherFailures) {
  for (const char* name : {"D\\uno", "D\\dos", "D\\tres"}) Create(name);
  recorder_.enum_override = [](KeyRef, std::uint32_t index, char* name, std::uint32_t* length) {
    if (index == 0) {
      std::memcpy(name, "cor", 3);
      *length = 3;
      return kErrorMoreData;
    }
    if (index == 1) return kErrorAccessDenied;
    std::memcpy(name, "tres", 5);
    *length = 4;
    return kErrorSuccess;
  };
  EXPECT_TRUE(Reg_Func::ListarSubclaves(recorder_, list_, "HKCU\\D"));
  EXPECT_EQ(list_, (std::vector<std::string>{"", "cor", "tres"}));
}

}  // namespace
}  // namespace sorbantilex
