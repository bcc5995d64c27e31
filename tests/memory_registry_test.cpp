#include "platform/memory/memory_registry.h"

#include <gtest/gtest.h>

#include "registry_conformance.h"

namespace sorbantilex {

INSTANTIATE_REGISTRY_CONFORMANCE(Memory, {"Memory", [] {
                                            auto registry = std::make_unique<MemoryRegistry>();
                                            KeyRef key = kNullKey;
                                            registry->CreateKey(kHkeyCurrentUser, "Software", 0,
                                                                kRegistroAccess, &key, nullptr);
                                            registry->CloseKey(key);
                                            return registry;
                                          }});

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class MemoryRegistryTest : public ::testing::Test {
 protected:
  KeyRef Create(std::string_view path, std::uint32_t access = kRegistroAccess) {
    KeyRef key = kNullKey;
    EXPECT_EQ(registry_.CreateKey(kHkeyLocalMachine, path, 0, access, &key, nullptr),
              kErrorSuccess);
    return key;
  }
  MemoryRegistry registry_;
};

TEST_F(MemoryRegistryTest, AValueWrittenAgainInAnotherCaseKeepsItsFirstSpelling) {
  KeyRef key = Create("SOFTWARE\\K");
  registry_.SetValue(key, "CheckedValue", kRegDword, Bytes("\x01\x00\x00\x00"));
  registry_.SetValue(key, "CHECKEDVALUE", kRegSz, Bytes("x"));
  registry_.CloseKey(key);
  const auto snapshot = registry_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\K");
  ASSERT_TRUE(snapshot);
  ASSERT_EQ(snapshot->values.size(), 1u);
  EXPECT_EQ(snapshot->values[0].name, "CheckedValue");
  EXPECT_EQ(snapshot->values[0].type, kRegSz);
}

TEST_F(MemoryRegistryTest, ADeniedKeyCannotBeOpenedAtAll) {
  registry_.CloseKey(Create("SOFTWARE\\Cerrada"));
  registry_.DenyOpen(kHkeyLocalMachine, "SOFTWARE\\Cerrada");
  KeyRef key = kNullKey;
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Cerrada", 0, kKeyRead, &key),
            kErrorAccessDenied);
  EXPECT_EQ(registry_.DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Cerrada"), kErrorAccessDenied);
}

TEST_F(MemoryRegistryTest, AWriteDeniedKeyIsReadableButNotChangeable) {
  registry_.CloseKey(Create("SOFTWARE\\Lectura"));
  registry_.DenyWrite(kHkeyLocalMachine, "SOFTWARE\\Lectura");
  KeyRef key = kNullKey;
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Lectura", 0, kKeyRead, &key),
            kErrorSuccess);
  registry_.CloseKey(key);
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Lectura", 0, kRegistroAccess, &key),
            kErrorAccessDenied);
  EXPECT_EQ(registry_.CreateKey(kHkeyLocalMachine, "SOFTWARE\\Lectura\\Nueva", 0, kKeyRead, &key,
                                nullptr),
            kErrorAccessDenied);
  EXPECT_EQ(registry_.DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Lectura"), kErrorAccessDenied);
  EXPECT_FALSE(registry_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\Lectura\\Nueva"));
}

TEST_F(MemoryRegistryTest, ARefusedCreateLeavesNoPartOfThePath) {
  registry_.CloseKey(Create("SOFTWARE\\A"));
  registry_.DenyWrite(kHkeyLocalMachine, "SOFTWARE\\A");
  KeyRef key = kNullKey;
  EXPECT_EQ(registry_.CreateKey(kHkeyLocalMachine, "SOFTWARE\\A\\B\\C", 0, kRegistroAccess, &key,
                                nullptr),
            kErrorAccessDenied);
  EXPECT_EQ(registry_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\A")->subkeys.size(), 0u);
}

TEST_F(MemoryRegistryTest, SnapshotShowsTheWholeSubtreeInEnumerationOrder) {
  registry_.CloseKey(Create("SOFTWARE\\T\\b"));
  KeyRef key = Create("SOFTWARE\\T\\A");
  registry_.SetValue(key, "", kRegSz, Bytes("Service"));
  registry_.CloseKey(key);
  const KeySnapshot expected{
      "T", {}, {{"A", {{"", kRegSz, {'S', 'e', 'r', 'v', 'i', 'c', 'e'}}}, {}}, {"b", {}, {}}}};
  EXPECT_EQ(registry_.Snapshot(kHkeyLocalMachine, "software\\t"), expected);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

}  // namespace
}  // namespace sorbantilex
