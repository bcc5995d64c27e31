#include <hivex.h>

#include "offline_test_support.h"
#include "platform/offline/hive_file/regf.h"

namespace sorbantilex::offline::testing {
namespace {

constexpr std::size_t kRootCell = 0x1020;  // where the blank hive keeps its root key

std::vector<std::string> ListOrder(const std::vector<std::uint8_t>& image) {
  auto get32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(image[at] | (image[at + 1] << 8) | (image[at + 2] << 16) |
                                      (image[at + 3] << 24));
  };
  const std::size_t list = 0x1000 + get32(kRootCell + 4 + 28);
  const std::size_t count = image[list + 6] | (image[list + 7] << 8);
  std::vector<std::string> names;
  for (std::size_t k = 0; k < count; ++k) {
    names.push_back(KeyNameAt(image, 0x1000 + get32(list + 8 + 8 * k)).value_or("?"));
  }
  return names;
}

TEST(Regf, BlankHiveOpensInLibhivexAndTakesKeys) {
  TempDir dir;
  const auto path = dir.path() / "blank";
  WriteBlankHive(path, "CMI-CreateHive{X}", 3);
  const auto base = ReadBaseBlock(path);
  ASSERT_TRUE(base.has_value());
  EXPECT_TRUE(base->checksum_ok);
  EXPECT_EQ(base->minor, 3u);
  EXPECT_FALSE(base->Dirty());
  std::unique_ptr<hive_h, int (*)(hive_h*)> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE),
                                                 hivex_close);
  ASSERT_TRUE(hive);
  EXPECT_EQ(hivex_root(hive.get()), kRootCell);
  for (const char* name : {"m", "zz", "Alpha", "[br]"}) {
    ASSERT_NE(hivex_node_add_child(hive.get(), hivex_root(hive.get()), name), 0u) << name;
  }
  ASSERT_EQ(hivex_commit(hive.get(), nullptr, 0), 0);
  EXPECT_EQ(ListOrder(ReadBytes(path)), (std::vector<std::string>{"Alpha", "m", "zz", "[br]"}));
}

TEST(Regf, SortingPutsAMisorderedListInWindowsOrder) {
  TempDir dir;
  const auto path = dir.path() / "blank";
  WriteBlankHive(path);
  {
    std::unique_ptr<hive_h, int (*)(hive_h*)> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE),
                                                   hivex_close);
    for (const char* name : {"_x", "Alpha", "zz"})
      hivex_node_add_child(hive.get(), hivex_root(hive.get()), name);
    ASSERT_EQ(hivex_commit(hive.get(), nullptr, 0), 0);
  }
  auto image = ReadBytes(path);
  ASSERT_EQ(ListOrder(image), (std::vector<std::string>{"Alpha", "zz", "_x"}));
  // Swap the first and last entries, as a lower-cased insertion would.
  const std::size_t list = 0x1000 + (image[kRootCell + 32] | (image[kRootCell + 33] << 8));
  std::swap_ranges(image.begin() + list + 8, image.begin() + list + 16, image.begin() + list + 24);
  ASSERT_EQ(ListOrder(image), (std::vector<std::string>{"_x", "zz", "Alpha"}));
  const std::size_t keys[] = {kRootCell};
  EXPECT_TRUE(SortSubkeyLists(image, keys));
  EXPECT_EQ(ListOrder(image), (std::vector<std::string>{"Alpha", "zz", "_x"}));
}

}  // namespace
}  // namespace sorbantilex::offline::testing
