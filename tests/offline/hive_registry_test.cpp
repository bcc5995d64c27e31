#include <hivex.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "offline_test_support.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/hive_file/utf16.h"
#include "registry/journal.h"

namespace sorbantilex::offline::testing {
namespace {

constexpr const char* kTestKey = "Software\\Prueba";

std::vector<std::uint8_t> Utf16(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

// The raw bytes the hive file holds for a value (no conversion).
std::vector<std::uint8_t> StoredData(const fs::path& hive_path, std::string_view key_path,
                                     std::string_view value_name) {
  auto hive = Hive::Open(hive_path, "x", false);
  std::shared_ptr<HiveKey> key = hive->root();
  std::size_t start = 0;
  while (start <= key_path.size()) {
    const auto slash = key_path.find('\\', start);
    const auto part = key_path.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    hive->LoadChildren(*key);
    for (const auto& [upper, child] : key->children) {
      if (child->name == part) key = child;
    }
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  hive->LoadValues(*key);
  const HiveValue* value = key->FindValue(value_name);
  return value != nullptr ? value->data : std::vector<std::uint8_t>{};
}

class HiveRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_ = MakeHives(dir_.path());
    Seed(paths_, [](HiveRegistry& registry) { CreatePath(registry, kHkeyCurrentUser, kTestKey); });
  }
  TempDir dir_;
  HivePaths paths_;
};

// String data is kept as Windows keeps it (UTF-16LE) and comes back as the
// UTF-8 that went in; other types pass unchanged.
TEST_F(HiveRegistryTest, ValueDataIsStoredAsWindowsStoresItAndReadBackUnchanged) {
  struct Case {
    const char* name;
    std::uint32_t type;
    std::vector<std::uint8_t> given;
    std::vector<std::uint8_t> stored;
  };
  const std::vector<Case> cases = {
      {"Shell", kRegSz, Bytes("Explorer.exe"), Utf16(u"Explorer.exe")},
      {"Terminado", kRegSz, Bytes(std::string_view("ab\0", 3)),
       Utf16(std::u16string_view(u"ab\0", 3))},
      {"Acentos", kRegSz, Bytes("Servicio de restauración ∑"),
       Utf16(u"Servicio de restauración ∑")},
      {"Expandir", kRegExpandSz, Bytes("%SystemRoot%\\system32"), Utf16(u"%SystemRoot%\\system32")},
      {"Multi", kRegMultiSz, Bytes("RpcSs"), Utf16(u"RpcSs")},
      {"Vacio", kRegMultiSz, {}, {}},
      {"Numero", kRegDword, {0x20, 0, 0, 0}, {0x20, 0, 0, 0}},
      {"Binario", kRegBinary, {0x01, 0x00, 0x14, 0x80, 0xFF}, {0x01, 0x00, 0x14, 0x80, 0xFF}},
      // A name outside ASCII, as users and malware give them.
      {"Contraseña ∑", kRegDword, {0x01, 0, 0, 0}, {0x01, 0, 0, 0}},
      // Types libhivex does not name are legal in real hives.
      {"TipoPropio", 0x00012345, {0x07}, {0x07}},
      {"TipoMayor", 0xFFFFFFFF, {0x01, 0x02}, {0x01, 0x02}},
  };
  Seed(paths_, [&](HiveRegistry& registry) {
    for (const auto& c : cases) {
      KeyRef key = kNullKey;
      ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, kTestKey, 0, kRegistroAccess, &key),
                kErrorSuccess);
      EXPECT_EQ(registry.SetValue(key, c.name, c.type, c.given), kErrorSuccess);
      registry.CloseKey(key);
    }
  });
  HiveRegistry reopened(paths_, false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StoredData(paths_.user, kTestKey, c.name), c.stored);
    const auto read = Query(reopened, kHkeyCurrentUser, kTestKey, c.name);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->first, c.type);
    EXPECT_EQ(read->second, c.given);
  }
}

// String data Windows keeps with an odd number of bytes, which no text
// stands for, is read as stored and comes back exactly from the undo file.
TEST_F(HiveRegistryTest, OddLengthStringsAreReadAsStoredAndUndoneExactly) {
  {
    std::unique_ptr<hive_h, int (*)(hive_h*)> hive(
        hivex_open(paths_.user.c_str(), HIVEX_OPEN_WRITE), hivex_close);
    ASSERT_TRUE(hive);
    hive_node_h key = hivex_root(hive.get());
    for (const char* part : {"Software", "Prueba"})
      key = hivex_node_get_child(hive.get(), key, part);
    ASSERT_NE(key, 0u);
    char name[] = "impar";
    char odd[] = {'a', 'b', 'c'};
    const hive_set_value value{name, hive_t_REG_SZ, sizeof odd, odd};
    ASSERT_EQ(hivex_node_set_values(hive.get(), key, 1, &value, 0), 0);
    ASSERT_EQ(hivex_commit(hive.get(), nullptr, 0), 0);
  }
  HiveRegistry registry(paths_, true);
  Journal journal(registry);
  KeyRef key = kNullKey;
  ASSERT_EQ(journal.OpenKey(kHkeyCurrentUser, kTestKey, 0, kRegistroAccess, &key), kErrorSuccess);
  std::uint32_t type = 0;
  std::vector<std::uint8_t> stored;
  ASSERT_EQ(journal.QueryStoredValue(key, "impar", &type, &stored), kErrorSuccess);
  EXPECT_EQ(stored, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  ASSERT_EQ(journal.DeleteValue(key, "impar"), kErrorSuccess);
  journal.CloseKey(key);
  EXPECT_NE(RegFileText(journal.UndoKeys()).find("\"impar\"=hex(1):61,62,63\r\n"),
            std::string::npos)
      << RegFileText(journal.UndoKeys());
}

// A key libhivex cannot read is damage, not absence: the store answers
// 1015, names the file and the key, and commits nothing after it, other
// hives' changes included.
TEST_F(HiveRegistryTest, ADamagedKeyIsRememberedAndStopsTheCommit) {
  struct Case {
    const char* name;
    ListDamage damage;
    bool in_software;
    const char* key_in_hive;
    KeyRef root;
    const char* path;
    const char* named_key;
  };
  const Case cases[] = {
      {"ListSignature", ListDamage::kSignature, true, "Microsoft", kHkeyLocalMachine,
       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "SOFTWARE\\Microsoft"},
      {"OneListEntry", ListDamage::kFirstEntry, false, "Software\\Zonas", kHkeyCurrentUser,
       "Software\\Zonas\\b.example", "Software\\Zonas"},
  };
  Seed(paths_, [](HiveRegistry& registry) {
    CreatePath(registry, kHkeyLocalMachine,
               "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
    CreatePath(registry, kHkeyCurrentUser, "Software\\Zonas\\a.example");
    CreatePath(registry, kHkeyCurrentUser, "Software\\Zonas\\b.example");
  });
  const auto pristine = FolderContents(dir_.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [name, bytes] : pristine) WriteBytes(dir_.path() / name, bytes);
    const fs::path damaged = c.in_software ? paths_.software : paths_.user;
    DamageSubkeyList(damaged, c.key_in_hive, c.damage);
    const auto before = FolderContents(dir_.path());

    HiveRegistry registry(paths_, true);
    SetDword(registry, kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Control", "Cambio", 1);
    EXPECT_FALSE(registry.Damage().has_value());
    KeyRef key = kNullKey;
    EXPECT_EQ(registry.OpenKey(c.root, c.path, 0, kKeyRead, &key), 1015);
    const auto damage = registry.Damage();
    ASSERT_TRUE(damage.has_value());
    EXPECT_EQ(damage->kind(), ErrorKind::kDamagedKey);
    EXPECT_EQ(damage->path(), damaged);
    EXPECT_NE(damage->detail().find(c.named_key), std::string::npos) << *damage;
    const auto report = registry.Commit();
    EXPECT_TRUE(report.written.empty());
    ASSERT_EQ(report.errors.size(), 1u);
    EXPECT_EQ(report.errors[0].kind(), ErrorKind::kDamagedKey);
    EXPECT_EQ(report.errors[0].detail(), damage->detail());
    EXPECT_EQ(FolderContents(dir_.path()), before);
  }
}

// libhivex has no single-value delete and renames a value it replaces; the
// store rewrites the list itself, keeping every other value as it was.
TEST_F(HiveRegistryTest, ChangingOneValueKeepsTheOthersAndTheStoredSpelling) {
  Seed(paths_, [](HiveRegistry& registry) {
    SetText(registry, kHkeyCurrentUser, kTestKey, "Alpha", kRegSz, "uno");
    SetDword(registry, kHkeyCurrentUser, kTestKey, "beta", 2);
    SetText(registry, kHkeyCurrentUser, kTestKey, "GAMMA", kRegBinary, "\x01\x02");
  });
  Seed(paths_, [](HiveRegistry& registry) {
    KeyRef key = kNullKey;
    ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, kTestKey, 0, kRegistroAccess, &key),
              kErrorSuccess);
    EXPECT_EQ(registry.DeleteValue(key, "BETA"), kErrorSuccess);
    const auto data = Bytes("dos");
    EXPECT_EQ(registry.SetValue(key, "alpha", kRegSz, data), kErrorSuccess);
    registry.CloseKey(key);
  });
  HiveRegistry reopened(paths_, false);
  const auto snapshot = Snapshot(reopened, kHkeyCurrentUser, kTestKey);
  ASSERT_TRUE(snapshot.has_value());
  const std::vector<KeySnapshot::Value> expected = {{"Alpha", kRegSz, Bytes("dos")},
                                                    {"GAMMA", kRegBinary, {0x01, 0x02}}};
  EXPECT_EQ(snapshot->values, expected);
}

// Windows finds subkeys by a binary search over upper-cased names, so new
// keys must stand in that order whatever order libhivex inserts them in.
TEST_F(HiveRegistryTest, NewSubkeysStandInTheOrderWindowsSearches) {
  Seed(paths_, [](HiveRegistry& registry) {
    for (const char* name : {"zz", "_x", "Alpha", "[br]", "m", "ZZ\\Inner"}) {
      CreatePath(registry, kHkeyCurrentUser, std::string(kTestKey) + "\\" + name);
    }
  });
  Seed(paths_, [](HiveRegistry& registry) {
    CreatePath(registry, kHkeyCurrentUser, std::string(kTestKey) + "\\^caret");
  });
  std::unique_ptr<hive_h, int (*)(hive_h*)> hive(hivex_open(paths_.user.c_str(), 0), hivex_close);
  ASSERT_TRUE(hive);
  hive_node_h node = hivex_root(hive.get());
  for (const char* part : {"Software", "Prueba"})
    node = hivex_node_get_child(hive.get(), node, part);
  ASSERT_NE(node, 0u);
  std::unique_ptr<hive_node_h, void (*)(void*)> children(hivex_node_children(hive.get(), node),
                                                         std::free);
  std::vector<std::string> order;
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    std::unique_ptr<char, void (*)(void*)> name(hivex_node_name(hive.get(), *child), std::free);
    order.emplace_back(name.get());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Alpha", "m", "zz", "[br]", "^caret", "_x"}));
}

// A value name that is no text (bytes that are no UTF-8, a lone surrogate)
// is refused as the live registry refuses it; libhivex could not write it,
// and crashed writing the key's other values.
TEST_F(HiveRegistryTest, AValueNameThatIsNoTextIsRefused) {
  KeyRef key = kNullKey;
  HiveRegistry registry(paths_, true);
  ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, kTestKey, 0, kRegistroAccess, &key), kErrorSuccess);
  const std::vector<std::uint8_t> one = {1, 0, 0, 0};
  ASSERT_EQ(registry.SetValue(key, "antes", kRegDword, one), kErrorSuccess);
  for (const std::string_view name :
       {std::string_view("\xff"), std::string_view("a\xed\xa0\x80")}) {
    EXPECT_EQ(registry.SetValue(key, name, kRegDword, one), kErrorInvalidParameter);
  }
  registry.CloseKey(key);
  EXPECT_TRUE(registry.Commit().errors.empty());
  HiveRegistry reopened(paths_, false);
  EXPECT_TRUE(Query(reopened, kHkeyCurrentUser, kTestKey, "antes").has_value());
}

// Names are matched as Windows matches them, beyond ASCII too; new names
// outside ASCII are refused because libhivex would file them wrongly.
TEST_F(HiveRegistryTest, NamesMatchWithoutRegardToCaseAndNewNamesStayAscii) {
  {
    std::unique_ptr<hive_h, int (*)(hive_h*)> hive(
        hivex_open(paths_.user.c_str(), HIVEX_OPEN_WRITE), hivex_close);
    ASSERT_TRUE(hive);
    const hive_node_h software =
        hivex_node_get_child(hive.get(), hivex_root(hive.get()), "Software");
    ASSERT_NE(hivex_node_add_child(hive.get(), software, "Ñandú"), 0u);
    ASSERT_NE(hivex_node_add_child(hive.get(), software, "Ωmega"), 0u);
    ASSERT_EQ(hivex_commit(hive.get(), nullptr, 0), 0);
  }
  HiveRegistry registry(paths_, true);
  KeyRef key = kNullKey;
  EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, "SOFTWARE\\ñANDÚ", 0, kKeyRead, &key),
            kErrorSuccess);
  registry.CloseKey(key);
  std::uint32_t disposition = 0;
  EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, "software\\ωMEGA", 0, kRegistroAccess, &key,
                               &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  registry.CloseKey(key);
  EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, "Software\\Über\\Sub", 0, kRegistroAccess, &key,
                               nullptr),
            kErrorAccessDenied);
  EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, "Software\\Über", 0, kKeyRead, &key),
            kErrorFileNotFound);
  ASSERT_EQ(registry.notices().size(), 1u);
  EXPECT_EQ(registry.notices()[0].kind, StoreNotice::Kind::kKeyNotCreated);
  EXPECT_EQ(registry.notices()[0].name, "Über");
  EXPECT_TRUE(registry.ChangedHives().empty());
}

TEST_F(HiveRegistryTest, NamesAreLimitedAsWindowsLimitsThem) {
  HiveRegistry registry(paths_, true);
  KeyRef key = kNullKey;
  const std::string base = std::string(kTestKey) + "\\";
  EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, base + std::string(256, 'k'), 0, kRegistroAccess,
                               &key, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, base + std::string(255, 'k'), 0, kRegistroAccess,
                               &key, nullptr),
            kErrorSuccess);
  EXPECT_EQ(
      registry.SetValue(key, std::string(16384, 'v'), kRegDword, std::vector<std::uint8_t>(4)),
      kErrorInvalidParameter);
  EXPECT_EQ(
      registry.SetValue(key, std::string(16383, 'v'), kRegDword, std::vector<std::uint8_t>(4)),
      kErrorSuccess);
  registry.CloseKey(key);
  EXPECT_EQ(
      registry.CreateKey(kHkeyCurrentUser, base + "a\\\\b", 0, kRegistroAccess, &key, nullptr),
      161);
}

// The roots and mount points open as on Windows.
TEST_F(HiveRegistryTest, RootsAndMountPointsBehaveAsOnWindows) {
  Seed(paths_, [](HiveRegistry& registry) {
    CreatePath(registry, kHkeyLocalMachine, "SYSTEM\\ControlSet002\\Control");
    CreatePath(registry, kHkeyLocalMachine, "SOFTWARE\\Classes\\.txt");
    SetDword(registry, kHkeyLocalMachine, "SYSTEM\\Select", "Current", 2);
  });
  HiveRegistry registry(paths_, true);
  KeyRef key = kNullKey;
  EXPECT_EQ(registry.CreateKey(kHkeyLocalMachine, "Nueva", 0, kRegistroAccess, &key, nullptr),
            kErrorAccessDenied);
  EXPECT_EQ(registry.CreateKey(kHkeyUsers, "Nueva", 0, kRegistroAccess, &key, nullptr),
            kErrorAccessDenied);
  EXPECT_EQ(registry.DeleteKey(kHkeyLocalMachine, "SOFTWARE"), kErrorAccessDenied);
  CreatePath(registry, kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\srservice");
  EXPECT_EQ(registry.OpenKey(kHkeyLocalMachine, "system\\controlset002\\services\\SRSERVICE", 0,
                             kKeyRead, &key),
            kErrorSuccess);
  registry.CloseKey(key);
  EXPECT_EQ(
      registry.OpenKey(kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Services", 0, kKeyRead, &key),
      kErrorFileNotFound);
  EXPECT_EQ(registry.OpenKey(kHkeyUsers, paths_.user_sid + "\\Software\\Prueba", 0, kKeyRead, &key),
            kErrorSuccess);
  registry.CloseKey(key);
  EXPECT_EQ(registry.OpenKey(kHkeyClassesRoot, ".txt", 0, kKeyRead, &key), kErrorSuccess);
  registry.CloseKey(key);
  std::uint32_t subkeys = 0;
  EXPECT_EQ(registry.QueryInfoKey(kHkeyLocalMachine, &subkeys, nullptr), kErrorSuccess);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(registry.OpenHandles(), 0u);
}

// A hive whose file or folder cannot be opened safely is refused with a
// error naming it, and nothing on disk changes.
struct Refusal {
  const char* name;
  std::function<void(const HivePaths&)> damage;
  ErrorKind kind;
  bool for_writing = true;
};

class HiveRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(HiveRefusalTest, RefusesWithAClearMessageAndChangesNothing) {
  TempDir dir;
  const HivePaths paths = MakeHives(dir.path());
  GetParam().damage(paths);
  const auto before = FolderContents(dir.path());
  try {
    HiveRegistry registry(paths, GetParam().for_writing);
    ADD_FAILURE() << "opened";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), GetParam().kind) << error;
    EXPECT_EQ(error.path().parent_path(), dir.path()) << error;
  }
  EXPECT_EQ(FolderContents(dir.path()), before);
}

void SetSequence2(const fs::path& hive, std::uint32_t value) {
  auto bytes = ReadBytes(hive);
  std::memcpy(bytes.data() + 8, &value, 4);
  SealBaseBlock(bytes);
  WriteBytes(hive, bytes);
}

const Refusal kRefusals[] = {
    {"Dirty", [](const HivePaths& p) { SetSequence2(p.system, 77); }, ErrorKind::kLogUnrecoverable},
    {"DirtyEvenForDryRun", [](const HivePaths& p) { SetSequence2(p.user, 77); },
     ErrorKind::kLogUnrecoverable, false},
    {"NotAHive",
     [](const HivePaths& p) { WriteBytes(p.software, Bytes("MZ este no es un registro")); },
     ErrorKind::kNotAHive},
    {"Truncated",
     [](const HivePaths& p) {
       auto bytes = ReadBytes(p.system);
       bytes.resize(4096 + 100);
       WriteBytes(p.system, bytes);
     },
     ErrorKind::kNotAHive},
    {"BadChecksum",
     [](const HivePaths& p) {
       auto bytes = ReadBytes(p.user);
       bytes[100] ^= 0xFF;
       WriteBytes(p.user, bytes);
     },
     ErrorKind::kNotAHive},
    {"ReadOnlyFile", [](const HivePaths& p) { fs::permissions(p.software, fs::perms::owner_read); },
     ErrorKind::kReadOnly},
    {"Missing", [](const HivePaths& p) { fs::remove(p.system); }, ErrorKind::kHiveMissing},
};

INSTANTIATE_TEST_SUITE_P(Hive, HiveRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HiveDryRun, ReadOnlyFilesMayBeReadAndNothingIsWritten) {
  TempDir dir;
  const HivePaths paths = MakeHives(dir.path());
  fs::permissions(paths.software, fs::perms::owner_read);
  const auto before = FolderContents(dir.path());
  HiveRegistry registry(paths, false);
  CreatePath(registry, kHkeyLocalMachine, "SOFTWARE\\Nueva");
  EXPECT_EQ(registry.ChangedHives(), std::vector<fs::path>{paths.software});
  const auto report = registry.Commit();
  EXPECT_TRUE(report.written.empty());
  EXPECT_EQ(FolderContents(dir.path()), before);
}

// Values over 16344 bytes need a big-data record in hives of minor version
// 4 and later, which libhivex cannot write: the store refuses any change
// that would rewrite one, and the file stays as it was.
TEST(HiveLargeValues, ChangesThatWouldRewriteALargeValueAreRefused) {
  TempDir dir;
  HivePaths paths = MakeHives(dir.path(), 3);
  const std::vector<std::uint8_t> large(20000, 0xAB);
  Seed(paths, [&](HiveRegistry& registry) {
    CreatePath(registry, kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Control\\ProductOptions");
    KeyRef key = kNullKey;
    ASSERT_EQ(registry.OpenKey(kHkeyLocalMachine, "SYSTEM\\ControlSet001\\Control\\ProductOptions",
                               0, kRegistroAccess, &key),
              kErrorSuccess);
    EXPECT_EQ(registry.SetValue(key, "ProductPolicy", kRegBinary, large), kErrorSuccess);
    EXPECT_EQ(registry.SetValue(key, "ProductType", kRegSz, Bytes("WinNT")), kErrorSuccess);
    registry.CloseKey(key);
  });
  {  // A hive of minor version 3 keeps a large value in one cell, as Windows does.
    HiveRegistry registry(paths, false);
    const auto read = Query(registry, kHkeyLocalMachine,
                            "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductPolicy");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->second, large);
  }
  // The same hive declared as a later version.
  auto bytes = ReadBytes(paths.system);
  bytes[24] = 5;
  SealBaseBlock(bytes);
  WriteBytes(paths.system, bytes);
  const auto before = FolderContents(dir.path());

  HiveRegistry registry(paths, true);
  KeyRef key = kNullKey;
  ASSERT_EQ(
      registry.OpenKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                       kRegistroAccess, &key),
      kErrorSuccess);
  EXPECT_EQ(registry.SetValue(key, "ProductType", kRegSz, Bytes("ServerNT")), 50);
  EXPECT_EQ(registry.DeleteValue(key, "ProductType"), 50);
  registry.CloseKey(key);
  ASSERT_EQ(registry.OpenKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control", 0,
                             kRegistroAccess, &key),
            kErrorSuccess);
  EXPECT_EQ(registry.SetValue(key, "Nuevo", kRegBinary, large), 50);
  registry.CloseKey(key);
  ASSERT_EQ(registry.notices().size(), 3u);
  EXPECT_EQ(registry.notices()[0].kind, StoreNotice::Kind::kValueNotChanged);
  EXPECT_EQ(registry.notices()[0].hive, paths.system);
  EXPECT_TRUE(registry.Commit().errors.empty());
  EXPECT_EQ(FolderContents(dir.path()), before);
}

struct LargeValueCase {
  const char* name;
  std::uint32_t minor_version;
  bool refused;  // a value one byte over a cell
};

class HiveLargeValueBoundary : public ::testing::TestWithParam<LargeValueCase> {};

// Minor version 4 is the first that keeps large values in big-data records.
TEST_P(HiveLargeValueBoundary, AValueOverOneCellIsWrittenOnlyWhereWindowsKeepsItInOne) {
  TempDir dir;
  const HivePaths paths = MakeHives(dir.path(), GetParam().minor_version);
  {
    HiveRegistry registry(paths, true);
    CreatePath(registry, kHkeyLocalMachine, "SOFTWARE\\Grande");
    KeyRef key = kNullKey;
    ASSERT_EQ(registry.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Grande", 0, kRegistroAccess, &key),
              kErrorSuccess);
    EXPECT_EQ(registry.SetValue(key, "Cabe", kRegBinary,
                                std::vector<std::uint8_t>(kLargestSingleCellValue, 1)),
              kErrorSuccess);
    EXPECT_EQ(registry.SetValue(key, "NoCabe", kRegBinary,
                                std::vector<std::uint8_t>(kLargestSingleCellValue + 1, 2)),
              GetParam().refused ? 50 : kErrorSuccess);
    registry.CloseKey(key);
    const auto report = registry.Commit();
    ASSERT_TRUE(report.errors.empty()) << report.errors.front();
  }
  HiveRegistry reread(paths, false);
  const auto fits = Query(reread, kHkeyLocalMachine, "SOFTWARE\\Grande", "Cabe");
  ASSERT_TRUE(fits.has_value());
  EXPECT_EQ(fits->second.size(), kLargestSingleCellValue);
  const auto over = Query(reread, kHkeyLocalMachine, "SOFTWARE\\Grande", "NoCabe");
  EXPECT_EQ(over.has_value(), !GetParam().refused);
}

const LargeValueCase kLargeValueCases[] = {
    {"Minor3", 3, false},
    {"Minor4", 4, true},
    {"Minor5", 5, true},
};

INSTANTIATE_TEST_SUITE_P(Hive, HiveLargeValueBoundary, ::testing::ValuesIn(kLargeValueCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HiveCommit, KeepsTheOldHiveAsABackupAndWritesAHiveOthersCanRead) {
  TempDir dir;
  const HivePaths paths = MakeHives(dir.path());
  const auto old_bytes = ReadBytes(paths.user);
  HiveRegistry registry(paths, true);
  CreatePath(registry, kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\Main");
  SetText(registry, kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\Main", "Start Page",
          kRegSz, "about:blank");
  const auto report = registry.Commit();
  ASSERT_TRUE(report.errors.empty()) << report.errors.front();
  ASSERT_EQ(report.written.size(), 1u);
  EXPECT_EQ(report.written[0].hive, paths.user);
  EXPECT_EQ(ReadBytes(report.written[0].backup), old_bytes);
  EXPECT_FALSE(fs::exists(paths.user.string() + ".sorbantilex-nuevo"));
  const auto base = ReadBaseBlock(paths.user);
  ASSERT_TRUE(base.has_value());
  EXPECT_TRUE(base->checksum_ok);
  EXPECT_FALSE(base->Dirty());

  SORBANTILEX_SKIP_WITHOUT_REGLOOKUP();
  const auto lines = Reglookup(paths.user, "/Software/Microsoft/Internet Explorer/Main");
  bool found = false;
  for (const auto& line : lines) {
    found = found || line.find("Start Page,SZ,about:blank") != std::string::npos;
  }
  EXPECT_TRUE(found) << ::testing::PrintToString(lines);
}

// A new file whose check fails, as a damaged write would.
class UncheckableFile final : public PendingFile {
 public:
  explicit UncheckableFile(fs::path target) : target_(std::move(target)) {}
  const fs::path& target() const override { return target_; }
  void Write(int fd, const fs::path&) override { ASSERT_EQ(::write(fd, "x", 1), 1); }
  void Check(int, const fs::path& temporary) const override {
    throw Error(ErrorKind::kCheckFailed, temporary);
  }

 private:
  fs::path target_;
};

extern "C" void StopOnSignal(int) { StopCommits(); }

// Each case makes one step of a commit of the three hives and a text file
// fail; every file then keeps every byte, no temporary or backup is left,
// and the one error names the file and says that nothing was saved.
struct CommitFault {
  const char* name;
  // Sets up the fault; returns the file the error must name.
  std::function<fs::path(const HivePaths&, const fs::path& text, CommitHooks&,
                         std::vector<std::unique_ptr<PendingFile>>&)>
      inject;
  ErrorKind cause;
};
void PrintTo(const CommitFault& fault, std::ostream* out) { *out << fault.name; }

class HiveCommitFault : public ::testing::TestWithParam<CommitFault> {};

TEST_P(HiveCommitFault, LeavesEveryFileByteIdentical) {
  TempDir dir;
  const HivePaths paths = MakeHives(dir.path());
  const fs::path text = dir.path() / "hosts";
  WriteBytes(text, Bytes("viejo\n"));
  const auto before = FolderContents(dir.path());
  HiveRegistry registry(paths, true);
  CreatePath(registry, kHkeyLocalMachine, "SOFTWARE\\Nueva");
  CreatePath(registry, kHkeyLocalMachine, "SYSTEM\\Nueva");
  CreatePath(registry, kHkeyCurrentUser, "Nueva");
  std::vector<std::unique_ptr<PendingFile>> more;
  more.push_back(std::make_unique<PendingBytes>(text, Bytes("nuevo\n")));
  CommitHooks hooks;
  const fs::path named = GetParam().inject(paths, text, hooks, more);
  const auto report = registry.Commit(hooks, std::move(more));
  fs::permissions(text, fs::perms::owner_all, fs::perm_options::add);
  EXPECT_TRUE(report.written.empty());
  ASSERT_EQ(report.errors.size(), 1u);
  const Error& error = report.errors[0];
  EXPECT_EQ(error.kind(), ErrorKind::kCommitFailed) << error;
  EXPECT_EQ(error.path(), named) << error;
  ASSERT_NE(error.cause(), nullptr);
  EXPECT_EQ(error.cause()->kind(), GetParam().cause) << error;
  EXPECT_EQ(FolderContents(dir.path()), before);
}

const CommitFault kCommitFaults[] = {
    {"FailsBeforeTheSecondRename",
     [](const HivePaths& paths, const fs::path&, CommitHooks& hooks, auto&) {
       hooks.before_rename = [count = 0](const fs::path& temporary) mutable {
         // Every new file is complete by now.
         EXPECT_TRUE(ReadBaseBlock(temporary).has_value() ||
                     temporary.filename() == "hosts.sorbantilex-nuevo");
         if (++count == 2) throw Error(ErrorKind::kWriteFailed, temporary, ENOSPC);
       };
       return paths.system;
     },
     ErrorKind::kWriteFailed},
    {"SignalDuringTheCommit",
     [](const HivePaths& paths, const fs::path&, CommitHooks& hooks, auto&) {
       hooks.before_rename = [](const fs::path&) {
         const auto old = std::signal(SIGTERM, StopOnSignal);
         std::raise(SIGTERM);
         std::signal(SIGTERM, old);
       };
       return paths.software;
     },
     ErrorKind::kStopped},
    {"ReadOnlyFileAmongThem",
     [](const HivePaths&, const fs::path& text, CommitHooks&, auto&) {
       fs::permissions(text, fs::perms::owner_read);
       return text;
     },
     ErrorKind::kReadOnly},
    {"ANewFileFailsItsCheck",
     [](const HivePaths& paths, const fs::path&, CommitHooks&, auto& more) {
       const fs::path other = paths.system.parent_path() / "otro";
       more.push_back(std::make_unique<UncheckableFile>(other));
       return other;
     },
     ErrorKind::kCheckFailed},
};

INSTANTIATE_TEST_SUITE_P(Offline, HiveCommitFault, ::testing::ValuesIn(kCommitFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorbantilex::offline::testing
