#include "platform/memory/memory_wmi.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_registry.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

struct MonikerCase {
  std::string_view name;
  std::string_view moniker;
  std::uint32_t failure;  // 0: binds
};

const MonikerCase kMonikers[] = {
    {"Cimv2", "winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2", 0},
    {"Cimv2OtherCase", "WINMGMTS:root\\CIMV2", 0},
    {"DefaultNamespace", "winmgmts:", 0},
    {"StdRegProv", "Winmgmts:root\\default:StdRegProv", 0},
    {"UnknownClass", "winmgmts:root\\default:NoSuchClass", 0x80041010},
    {"UnknownNamespace", "winmgmts:root\\nowhere", 0x8004100E},
    {"NotWmi", "script:foo", 0x800401E4},
};

void PrintTo(const MonikerCase& c, std::ostream* out) { *out << c.moniker; }

class MonikerTest : public ::testing::TestWithParam<MonikerCase> {};

TEST_P(MonikerTest, BindsOrRaisesTheHresult) {
  MemoryRegistry registry;
  MemoryWmi wmi(registry);
  std::uint32_t failure = 0;
  try {
    EXPECT_NE(wmi.BindMoniker(GetParam().moniker), nullptr);
  } catch (const Failure& f) {
    failure = static_cast<std::uint32_t>(f.number());
  }
  EXPECT_EQ(failure, GetParam().failure);
  EXPECT_EQ(wmi.calls(), (std::vector<MemoryWmi::Call>{{std::string(GetParam().moniker), "", {}}}));
}

INSTANTIATE_TEST_SUITE_P(Monikers, MonikerTest, ::testing::ValuesIn(kMonikers),
                         [](const auto& info) { return std::string(info.param.name); });

// The provider writes into an existing key only, and only bytes.
TEST(MemoryWmiTest, SetBinaryValueStoresBytesInExistingKeysOnly) {
  MemoryRegistry registry;
  MemoryWmi wmi(registry);
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(kHkeyLocalMachine, "SYSTEM\\K", 0, kKeyRead, &key, nullptr), 0);
  registry.CloseKey(key);
  const auto provider = wmi.BindMoniker("Winmgmts:root\\default:StdRegProv");
  const auto set = [&](std::string path, std::vector<std::int32_t> bytes) {
    const AutomationArg args[] = {static_cast<std::int32_t>(kHkeyLocalMachine), std::move(path),
                                  "V", std::move(bytes)};
    return provider->Invoke("SetBinaryValue", args);
  };

  set("SYSTEM\\K", {0, 255, 7});
  set("SYSTEM\\Missing", {1});
  EXPECT_THROW(set("SYSTEM\\K", {256}), Failure);

  EXPECT_EQ(registry.Snapshot(kHkeyLocalMachine, "SYSTEM"),
            (KeySnapshot{"SYSTEM", {}, {{"K", {{"V", kRegBinary, {0, 255, 7}}}, {}}}}));
}

}  // namespace
}  // namespace sorbantilex
