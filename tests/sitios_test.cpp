#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kDomains =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";

// Removes the key at `path` (relative to `key`) from a snapshot.
void Remove(KeySnapshot& key, std::string_view path) {
  const auto slash = path.find('\\');
  const std::string_view head = path.substr(0, slash);
  const auto child =
      std::ranges::find_if(key.subkeys, [&](const KeySnapshot& k) { return k.name == head; });
  ASSERT_NE(child, key.subkeys.end()) << path;
  if (slash == std::string_view::npos) {
    key.subkeys.erase(child);
  } else {
    Remove(*child, path.substr(slash + 1));
  }
}

struct ZoneCase {
  Repair repair;
  std::vector<std::string_view> removed;
};

const ZoneCase kCases[] = {
    {{"Confianza", &Funciones::EliminarSitiosConfianza},
     {"a.com", "b.com\\y", "b.com\\z", "z.com"}},
    {{"Restringidos", &Funciones::EliminarSitiosRestringidos},
     {"d.com", "a.com\\x", "b.com\\x", "z.com\\w"}},
};

class SitiosTest : public TaskTest, public ::testing::WithParamInterface<ZoneCase> {
 protected:
  void Zone(std::string_view entry, std::uint32_t type, const Bytes& data) {
    Put(kHkeyCurrentUser, std::string(kDomains) + "\\" + std::string(entry), "*", type, data);
  }
};

// Two levels are looked at: a matching domain goes whole, a matching
// subdomain goes alone, deeper keys stay unless their parent goes, and only
// a REG_DWORD "*" equal to the zone matches.
TEST_P(SitiosTest, RemovesTheEntriesOfItsZone) {
  Zone("a.com", kRegDword, Dword(2));
  Zone("a.com\\x", kRegDword, Dword(4));
  Zone("a.com\\www", kRegDword, Dword(1));
  Zone("b.com\\x", kRegDword, Dword(4));
  Zone("b.com\\y", kRegDword, Dword(2));
  Zone("b.com\\z", kRegDword, Dword(2));
  Zone("b.com\\z\\deep", kRegDword, Dword(4));
  Zone("b.com\\q", kRegDword, Dword(1));
  Zone("b.com\\q\\deep", kRegDword, Dword(2));
  Zone("b.com\\q\\deep2", kRegDword, Dword(4));
  Zone("c.com", kRegSz, Text("2"));
  Zone("c.com\\x", kRegSz, Text("4"));
  Zone("c.com\\y", kRegBinary, Dword(2));
  Zone("c.com\\z", kRegBinary, Dword(4));
  Zone("d.com", kRegDword, Dword(4));
  Put(kHkeyCurrentUser, std::string(kDomains) + "\\e.com", "http", kRegDword, Dword(2));
  Zone("z.com", kRegDword, Dword(2));  // the last domain matches too
  Zone("z.com\\w", kRegDword, Dword(4));
  KeySnapshot expected = *At(kHkeyCurrentUser, kDomains);
  for (const auto path : GetParam().removed) Remove(expected, path);

  (funciones_.*GetParam().repair.run)();

  EXPECT_EQ(At(kHkeyCurrentUser, kDomains), expected);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(ui_.Yields(), 1 + 6);  // after the listing, then after each domain
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

TEST_P(SitiosTest, MissingZoneMapIsNoError) {
  const SystemState before = State();
  (funciones_.*GetParam().repair.run)();
  EXPECT_EQ(State(), before);
}

INSTANTIATE_TEST_SUITE_P(Zones, SitiosTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.repair.name); });

}  // namespace
}  // namespace sorbantilex
