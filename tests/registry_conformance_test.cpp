// The registry behaviour the program relies on, held against every registry
// implementation: the in-memory model, the hive store and the Windows API.

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "reg_import.h"
#include "registry_conformance.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kBase = "Software\\SorbantilexConformance";

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

using reg_import::DeleteTree;

}  // namespace

void RegistryConformance::SetUp() {
  registry_ = GetParam().make();
  ASSERT_NE(registry_, nullptr);
  DeleteTree(*registry_, kHkeyCurrentUser, std::string(kBase));
}

void RegistryConformance::TearDown() {
  if (registry_) DeleteTree(*registry_, kHkeyCurrentUser, std::string(kBase));
}

namespace {

// Creates a key below the test base and gives its handle.
KeyRef Create(RegistryApi& registry, std::string_view path, std::uint32_t* disposition = nullptr) {
  KeyRef key = kNullKey;
  EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, std::string(kBase) + "\\" + std::string(path), 0,
                               kRegistroAccess, &key, disposition),
            kErrorSuccess)
      << path;
  return key;
}

Status Open(RegistryApi& registry, std::string_view path, KeyRef* key,
            std::uint32_t access = kRegistroAccess) {
  return registry.OpenKey(kHkeyCurrentUser, std::string(kBase) + "\\" + std::string(path), 0,
                          access, key);
}

std::vector<std::string> Subkeys(RegistryApi& registry, KeyRef key) {
  std::vector<std::string> names;
  std::array<char, 300> name{};
  for (std::uint32_t i = 0;; ++i) {
    auto length = static_cast<std::uint32_t>(name.size());
    const Status status = registry.EnumKey(key, i, name.data(), &length);
    if (status == kErrorNoMoreItems) break;
    EXPECT_EQ(status, kErrorSuccess);
    if (status != kErrorSuccess) break;
    names.emplace_back(name.data(), length);
  }
  return names;
}

std::vector<std::uint8_t> Read(RegistryApi& registry, KeyRef key, std::string_view name,
                               std::uint32_t* type = nullptr) {
  std::uint32_t size = 0;
  if (registry.QueryValue(key, name, type, nullptr, &size) != kErrorSuccess) return {};
  std::vector<std::uint8_t> data(size);
  EXPECT_EQ(registry.QueryValue(key, name, type, data.data(), &size), kErrorSuccess);
  data.resize(size);
  return data;
}

TEST_P(RegistryConformance, CreatingAPathCreatesEveryMissingKeyAndThenOpensIt) {
  std::uint32_t disposition = 0;
  KeyRef deep = Create(registry(), "A\\B\\C", &disposition);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  EXPECT_EQ(registry().CloseKey(deep), kErrorSuccess);

  KeyRef middle = kNullKey;
  EXPECT_EQ(Open(registry(), "A\\B", &middle), kErrorSuccess);
  EXPECT_EQ(Subkeys(registry(), middle), std::vector<std::string>{"C"});
  registry().CloseKey(middle);

  KeyRef again = Create(registry(), "A\\B\\C", &disposition);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  registry().CloseKey(again);
}

TEST_P(RegistryConformance, CreatingAnExistingKeyKeepsItsValues) {
  KeyRef key = Create(registry(), "K");
  ASSERT_EQ(registry().SetValue(key, "v", kRegSz, Bytes("uno")), kErrorSuccess);
  registry().CloseKey(key);
  KeyRef same = Create(registry(), "K");
  EXPECT_EQ(Read(registry(), same, "v"), std::vector<std::uint8_t>({'u', 'n', 'o'}));
  registry().CloseKey(same);
}

TEST_P(RegistryConformance, OpeningAMissingKeyAnswersNotFoundAndTheNullHandle) {
  KeyRef key = 0x1234;
  EXPECT_EQ(Open(registry(), "Missing", &key), kErrorFileNotFound);
  EXPECT_EQ(key, kNullKey);
}

TEST_P(RegistryConformance, KeyNamesIgnoreLetterCaseAndKeepTheirFirstSpelling) {
  registry().CloseKey(Create(registry(), "MiClave"));
  std::uint32_t disposition = 0;
  registry().CloseKey(Create(registry(), "MICLAVE", &disposition));
  EXPECT_EQ(disposition, kRegOpenedExistingKey);

  KeyRef lower = kNullKey;
  ASSERT_EQ(Open(registry(), "", &lower), kErrorSuccess);
  EXPECT_EQ(Subkeys(registry(), lower), std::vector<std::string>{"MiClave"});
  registry().CloseKey(lower);
  KeyRef other_case = kNullKey;
  EXPECT_EQ(Open(registry(), "miclave", &other_case), kErrorSuccess);
  registry().CloseKey(other_case);
}

TEST_P(RegistryConformance, SubkeysComeInAscendingOrderOfTheirUpperCasedNames) {
  for (const char* name : {"zz", "[br]", "_x", "Ab", "aa", "B", "a1"}) {
    registry().CloseKey(Create(registry(), std::string("Orden\\") + name));
  }
  KeyRef key = kNullKey;
  ASSERT_EQ(Open(registry(), "Orden", &key), kErrorSuccess);
  EXPECT_EQ(Subkeys(registry(), key),
            (std::vector<std::string>{"a1", "aa", "Ab", "B", "zz", "[br]", "_x"}));
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, ValueNamesIgnoreLetterCase) {
  KeyRef key = Create(registry(), "K");
  ASSERT_EQ(registry().SetValue(key, "Valor", kRegSz, Bytes("a")), kErrorSuccess);
  ASSERT_EQ(registry().SetValue(key, "VALOR", kRegSz, Bytes("b")), kErrorSuccess);
  EXPECT_EQ(Read(registry(), key, "valor"), std::vector<std::uint8_t>{'b'});
  EXPECT_EQ(registry().DeleteValue(key, "vAlOr"), kErrorSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(registry().QueryValue(key, "Valor", nullptr, nullptr, &size), kErrorFileNotFound);
  registry().CloseKey(key);
}

struct DataCase {
  std::string_view name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

TEST_P(RegistryConformance, ValueDataComesBackByteForByte) {
  const std::string accented = "Servicio de restauración";
  const std::vector<DataCase> cases = {
      {"SzWithoutTerminator", kRegSz, {'E', 'x', 'p'}},
      {"SzWithTerminator", kRegSz, {'E', 'x', 'p', 0}},
      {"SzEmpty", kRegSz, {}},
      {"SzAccented", kRegSz, {accented.begin(), accented.end()}},
      {"ExpandSz", kRegExpandSz, {'%', 'S', '%', '\\', 'x'}},
      {"MultiSzSingleText", kRegMultiSz, {'R', 'p', 'c', 'S', 's'}},
      {"MultiSzTwoTexts", kRegMultiSz, {'a', 0, 'b', 0, 0}},
      {"Binary", kRegBinary, {0x01, 0x00, 0x14, 0x80, 0xFF}},
      {"Dword", kRegDword, {0x20, 0x00, 0x00, 0x00}},
      {"", kRegSz, {'d', 'e', 'f'}},  // the unnamed default value
  };
  KeyRef key = Create(registry(), "Datos");
  for (const auto& c : cases) {
    ASSERT_EQ(registry().SetValue(key, c.name, c.type, c.data), kErrorSuccess) << c.name;
  }
  for (const auto& c : cases) {
    std::uint32_t type = 0;
    EXPECT_EQ(Read(registry(), key, c.name, &type), c.data) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
  // The enumeration gives each value once, with its spelling, type and data
  // as the query does (in whatever order the store keeps them).
  std::vector<std::string> listed;
  for (std::uint32_t i = 0;; ++i) {
    std::string name = "?";
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    const Status status = registry().EnumValue(key, i, &name, &type, &data);
    if (status == kErrorNoMoreItems) break;
    ASSERT_EQ(status, kErrorSuccess);
    const auto c = std::ranges::find(cases, name, &DataCase::name);
    ASSERT_NE(c, cases.end()) << name;
    EXPECT_EQ(type, c->type) << name;
    EXPECT_EQ(data, c->data) << name;
    listed.push_back(name);
  }
  EXPECT_EQ(listed.size(), cases.size());
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, SettingAValueReplacesItsTypeAndData) {
  KeyRef key = Create(registry(), "K");
  ASSERT_EQ(registry().SetValue(key, "Shell", kRegExpandSz, Bytes("malo.exe, otro.exe")),
            kErrorSuccess);
  ASSERT_EQ(registry().SetValue(key, "Shell", kRegSz, Bytes("Explorer.exe")), kErrorSuccess);
  std::uint32_t type = 0;
  EXPECT_EQ(Read(registry(), key, "Shell", &type),
            std::vector<std::uint8_t>(Bytes("Explorer.exe").begin(), Bytes("Explorer.exe").end()));
  EXPECT_EQ(type, kRegSz);
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, ABufferTooSmallAnswersMoreDataWithTheSizeNeeded) {
  KeyRef key = Create(registry(), "K");
  ASSERT_EQ(registry().SetValue(key, "v", kRegBinary, Bytes("12345678")), kErrorSuccess);
  std::array<std::uint8_t, 4> small{};
  std::uint32_t size = static_cast<std::uint32_t>(small.size());
  EXPECT_EQ(registry().QueryValue(key, "v", nullptr, small.data(), &size), kErrorMoreData);
  EXPECT_EQ(size, 8u);

  std::uint32_t type = 0;
  size = 0;
  EXPECT_EQ(registry().QueryValue(key, "v", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 8u);
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, EnumerationEndsWithNoMoreItemsAndRefusesAShortBuffer) {
  registry().CloseKey(Create(registry(), "E\\LargoNombre"));
  KeyRef key = kNullKey;
  ASSERT_EQ(Open(registry(), "E", &key), kErrorSuccess);
  std::uint32_t subkeys = 0;
  std::uint32_t longest = 0;
  EXPECT_EQ(registry().QueryInfoKey(key, &subkeys, &longest), kErrorSuccess);
  EXPECT_EQ(subkeys, 1u);
  EXPECT_EQ(longest, 11u);

  std::array<char, 64> name{};
  std::uint32_t length = 5;
  EXPECT_EQ(registry().EnumKey(key, 0, name.data(), &length), kErrorMoreData);
  length = static_cast<std::uint32_t>(name.size());
  EXPECT_EQ(registry().EnumKey(key, 1, name.data(), &length), kErrorNoMoreItems);
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, AKeyWithSubkeysIsNotDeletedAndALeafIs) {
  registry().CloseKey(Create(registry(), "P\\Hijo"));
  const std::string parent = std::string(kBase) + "\\P";
  EXPECT_EQ(registry().DeleteKey(kHkeyCurrentUser, parent), kErrorAccessDenied);

  KeyRef key = kNullKey;
  ASSERT_EQ(Open(registry(), "P", &key), kErrorSuccess);
  EXPECT_EQ(registry().DeleteKey(key, "hijo"), kErrorSuccess);  // through a handle, any case
  registry().CloseKey(key);
  EXPECT_EQ(registry().DeleteKey(kHkeyCurrentUser, parent), kErrorSuccess);
  EXPECT_EQ(Open(registry(), "P", &key), kErrorFileNotFound);
  EXPECT_EQ(registry().DeleteKey(kHkeyCurrentUser, parent), kErrorFileNotFound);
}

TEST_P(RegistryConformance, ARootIsNeverDeleted) {
  EXPECT_NE(registry().DeleteKey(kHkeyCurrentUser, ""), kErrorSuccess);
  KeyRef key = kNullKey;
  EXPECT_EQ(registry().OpenKey(kHkeyCurrentUser, "Software", 0, kKeyRead, &key), kErrorSuccess);
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, NoKeyIsCreatedDirectlyUnderTheMachineRoot) {
  KeyRef key = kNullKey;
  EXPECT_EQ(registry().CreateKey(kHkeyLocalMachine, "SorbantilexConformance", 0, kRegistroAccess,
                                 &key, nullptr),
            kErrorAccessDenied);
  EXPECT_EQ(key, kNullKey);
  EXPECT_EQ(registry().OpenKey(kHkeyLocalMachine, "SorbantilexConformance", 0, kKeyRead, &key),
            kErrorFileNotFound);
}

TEST_P(RegistryConformance, AHandleToADeletedKeyAnswersKeyDeleted) {
  KeyRef key = Create(registry(), "Borrada");
  ASSERT_EQ(registry().DeleteKey(kHkeyCurrentUser, std::string(kBase) + "\\Borrada"),
            kErrorSuccess);
  std::uint32_t size = 0;
  std::uint32_t count = 0;
  EXPECT_EQ(registry().QueryValue(key, "v", nullptr, nullptr, &size), kErrorKeyDeleted);
  EXPECT_EQ(registry().SetValue(key, "v", kRegSz, Bytes("x")), kErrorKeyDeleted);
  EXPECT_EQ(registry().QueryInfoKey(key, &count, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(registry().CloseKey(key), kErrorSuccess);
}

TEST_P(RegistryConformance, TheNullHandleIsRefusedEverywhere) {
  KeyRef key = kNullKey;
  std::uint32_t size = 0;
  std::uint32_t count = 0;
  std::array<char, 16> name{};
  std::uint32_t length = static_cast<std::uint32_t>(name.size());
  EXPECT_EQ(registry().OpenKey(kNullKey, "Software", 0, kKeyRead, &key), kErrorInvalidHandle);
  EXPECT_EQ(registry().CreateKey(kNullKey, "X", 0, kRegistroAccess, &key, nullptr),
            kErrorInvalidHandle);
  EXPECT_EQ(registry().CloseKey(kNullKey), kErrorInvalidHandle);
  EXPECT_EQ(registry().DeleteKey(kNullKey, "X"), kErrorInvalidHandle);
  EXPECT_EQ(registry().DeleteValue(kNullKey, "v"), kErrorInvalidHandle);
  EXPECT_EQ(registry().QueryValue(kNullKey, "v", nullptr, nullptr, &size), kErrorInvalidHandle);
  EXPECT_EQ(registry().SetValue(kNullKey, "v", kRegSz, Bytes("x")), kErrorInvalidHandle);
  EXPECT_EQ(registry().QueryInfoKey(kNullKey, &count, nullptr), kErrorInvalidHandle);
  EXPECT_EQ(registry().EnumKey(kNullKey, 0, name.data(), &length), kErrorInvalidHandle);
  EXPECT_EQ(registry().EnumValue(kNullKey, 0, nullptr, nullptr, nullptr), kErrorInvalidHandle);
}

TEST_P(RegistryConformance, AHandleDoesOnlyWhatItsAccessAllows) {
  registry().CloseKey(Create(registry(), "K"));
  KeyRef reader = kNullKey;
  ASSERT_EQ(Open(registry(), "K", &reader, kKeyRead), kErrorSuccess);
  EXPECT_EQ(registry().SetValue(reader, "v", kRegSz, Bytes("x")), kErrorAccessDenied);
  EXPECT_EQ(registry().DeleteValue(reader, "v"), kErrorAccessDenied);
  registry().CloseKey(reader);
}

TEST_P(RegistryConformance, DeletingAMissingValueAnswersNotFound) {
  KeyRef key = Create(registry(), "K");
  EXPECT_EQ(registry().DeleteValue(key, "nada"), kErrorFileNotFound);
  std::uint32_t size = 0;
  EXPECT_EQ(registry().QueryValue(key, "nada", nullptr, nullptr, &size), kErrorFileNotFound);
  registry().CloseKey(key);
}

TEST_P(RegistryConformance, AClosedHandleIsInvalid) {
  KeyRef key = Create(registry(), "K");
  EXPECT_EQ(registry().CloseKey(key), kErrorSuccess);
  std::uint32_t count = 0;
  EXPECT_EQ(registry().QueryInfoKey(key, &count, nullptr), kErrorInvalidHandle);
  EXPECT_EQ(registry().CloseKey(key), kErrorInvalidHandle);
}

}  // namespace
}  // namespace sorbantilex
