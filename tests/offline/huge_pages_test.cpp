#include "platform/offline/huge_pages.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace sorbantilex::offline {
namespace {

struct Case {
  std::optional<std::string> tunables;
  std::string mode;
  std::optional<std::string> wanted;
};

TEST(HugePageTunables, AddsTheTunableOnlyWhenTheKernelHasHugePagesAndNobodySetIt) {
  const Case cases[] = {
      {std::nullopt, "always [madvise] never\n", "glibc.malloc.hugetlb=1"},
      {std::nullopt, "[always] madvise never\n", "glibc.malloc.hugetlb=1"},
      {"", "always [madvise] never\n", "glibc.malloc.hugetlb=1"},
      // Other tunables are kept.
      {"glibc.malloc.check=3", "always [madvise] never",
       "glibc.malloc.check=3:glibc.malloc.hugetlb=1"},
      {"glibc.malloc.hugetlb.x=2", "always [madvise] never",
       "glibc.malloc.hugetlb.x=2:glibc.malloc.hugetlb=1"},
      // Set already: by an earlier start, or turned off by the user.
      {"glibc.malloc.hugetlb=1", "always [madvise] never", std::nullopt},
      {"glibc.malloc.check=3:glibc.malloc.hugetlb=0", "always [madvise] never", std::nullopt},
      // No huge pages, or no kernel file to say so.
      {std::nullopt, "always madvise [never]\n", std::nullopt},
      {std::nullopt, "", std::nullopt},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.tunables.value_or("(unset)") + " / " + one.mode);
    const auto tunables =
        one.tunables ? std::optional<std::string_view>(*one.tunables) : std::nullopt;
    EXPECT_EQ(HugePageTunables(tunables, one.mode), one.wanted);
  }
}

}  // namespace
}  // namespace sorbantilex::offline
