#include "registry/reg_file.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_registry.h"
#include "reg_import.h"

namespace sorbantilex {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

// The value as a store that keeps `stored` gives it.
RegFileValue Stored(RegFileValue value, Bytes stored) {
  value.stored = std::move(stored);
  return value;
}

struct ValueCase {
  std::string_view name;
  RegFileValue value;
  std::string_view line;
};

const ValueCase kValueCases[] = {
    {"DefaultEmptyText", {"", false, kRegSz, {0}}, "@=\"\""},
    {"DefaultNoData", {"", false, kRegSz, {}}, "@=hex(1):"},
    {"QuotesBackslashesEquals",
     {"a\"b\\c=d", false, kRegSz, Text(std::string_view("x\"y\\z\0", 6))},
     "\"a\\\"b\\\\c=d\"=\"x\\\"y\\\\z\""},
    {"NonAscii", {"año", false, kRegSz, Text(std::string_view("ñandú\0", 8))}, "\"año\"=\"ñandú\""},
    {"TextWithoutTerminator", {"Shell", false, kRegSz, Text("ab")}, "\"Shell\"=hex(1):61,00,62,00"},
    {"TextWithLineBreak",
     {"l", false, kRegSz, Text(std::string_view("a\nb\0", 4))},
     "\"l\"=hex(1):61,00,0a,00,62,00,00,00"},
    {"TextWithInnerZero",
     {"z", false, kRegSz, Text(std::string_view("a\0b\0", 4))},
     "\"z\"=hex(1):61,00,00,00,62,00,00,00"},
    {"ExpandSz", {"e", false, kRegExpandSz, Text("%A%")}, "\"e\"=hex(2):25,00,41,00,25,00"},
    // Stored bytes of odd length, which no text stands for: as they are.
    {"OddLengthText",
     Stored({"o", false, kRegSz,
             Text("\xe6\x85\xa2"
                  "c")},
            {0x61, 0x62, 0x63}),
     "\"o\"=hex(1):61,62,63"},
    {"OneByteText", Stored({"o", false, kRegSz, Text("c")}, {0x63}), "\"o\"=hex(1):63"},
    {"OddLengthExpandSz", Stored({"o", false, kRegExpandSz, Text("%\x00A")}, {0x25, 0x00, 0x41}),
     "\"o\"=hex(2):25,00,41"},
    {"StoredAsTheTextSays",
     Stored({"s", false, kRegSz, Text(std::string_view("ab\0", 3))}, {0x61, 0, 0x62, 0, 0, 0}),
     "\"s\"=\"ab\""},
    {"MultiSz",
     {"m", false, kRegMultiSz, Text(std::string_view("a\0é\0\0", 6))},
     "\"m\"=hex(7):61,00,00,00,e9,00,00,00,00,00"},
    {"Dword", {"d", false, kRegDword, {0xCD, 0xAB, 0x00, 0x80}}, "\"d\"=dword:8000abcd"},
    {"DwordOfTwoBytes", {"d", false, kRegDword, {1, 2}}, "\"d\"=hex(4):01,02"},
    {"Binary", {"b", false, kRegBinary, {0x00, 0xFF}}, "\"b\"=hex:00,ff"},
    {"Qword", {"q", false, 11, {1, 0, 0, 0, 0, 0, 0, 0}}, "\"q\"=hex(b):01,00,00,00,00,00,00,00"},
    {"None", {"n", false, kRegNone, {}}, "\"n\"=hex(0):"},
    {"Removed", {"r", true, kRegSz, {}}, "\"r\"=-"},
    {"DefaultRemoved", {"", true, 0, {}}, "@=-"},
    // Names regedit has no form for: the line would end inside the name and
    // the rest be read as lines of their own.
    {"NameWithLineBreaks",
     {"a\r\n[HKEY_CURRENT_USER]\n\"Evil\"=\"x\"", false, kRegSz, Text(std::string_view("v\0", 2))},
     "; Se omite el valor \"a\\r\\n[HKEY_CURRENT_USER]\\n\\\"Evil\\\"=\\\"x\\\"\": regedit no "
     "admite saltos de línea ni ceros en los nombres."},
    {"NameWithZero",
     {std::string("a\0b", 3), true, kRegSz, {}},
     "; Se omite el valor \"a\\0b\": regedit no admite saltos de línea ni ceros en los nombres."},
};

class RegFileValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(RegFileValueTest, WritesTheFormRegeditStoresExactly) {
  const RegFileKey key{"HKEY_CURRENT_USER\\Software\\K", false, {GetParam().value}};
  EXPECT_EQ(RegFileText({&key, 1}),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\K]\r\n" +
                std::string(GetParam().line) + "\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(Values, RegFileValueTest, ::testing::ValuesIn(kValueCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegFileTest, IsUtf16WithByteOrderMarkAndCrlf) {
  const RegFileKey keys[] = {{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Ñ", true, {}}};
  const Bytes bytes = RegFileBytes(keys);
  const std::string expected =
      "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Ñ]\r\n\r\n";
  Bytes utf16 = {0xFF, 0xFE};
  for (const char32_t c : std::u32string(U"Windows Registry Editor Version 5.00\r\n\r\n"
                                         U"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Ñ]\r\n\r\n")) {
    utf16.push_back(static_cast<std::uint8_t>(c));
    utf16.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  EXPECT_EQ(bytes, utf16);
  EXPECT_EQ(RegFileText(keys), expected);
}

// Long data is broken into continued lines of at most 80 columns, which an
// import joins again.
TEST(RegFileTest, LongDataIsContinuedOnShortLines) {
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  const RegFileKey keys[] = {{"HKEY_CURRENT_USER\\Software\\K",
                              false,
                              {{"Un nombre bastante largo", false, kRegBinary, data},
                               {"Texto", false, kRegMultiSz, Bytes(200, 'x')}}}};
  const std::string text = RegFileText(keys);
  for (std::size_t start = 0, end = 0; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
  }

  MemoryRegistry registry;
  ASSERT_EQ(ImportRegFile(registry, RegFileBytes(keys)), "");
  const auto key = registry.Snapshot(kHkeyCurrentUser, "Software\\K");
  ASSERT_TRUE(key.has_value());
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->values[0].data, data);
  EXPECT_EQ(key->values[1].data, Bytes(200, 'x'));
}

// A key or value whose name regedit cannot hold is left out, the key with
// everything beneath it, and named in a comment and in the caller's list;
// nothing of such a name starts a line of its own.
TEST(RegFileTest, LeavesOutNamesWithLineBreaksOrZeros) {
  const std::string injected = "x\r\n[-HKEY_CURRENT_USER\\Software]\r\n";
  const std::string broken = "HKEY_CURRENT_USER\\Software\\" + injected;
  const RegFileKey keys[] = {
      {"HKEY_CURRENT_USER\\Software\\Nul" + std::string("\0x", 2), true, {}},
      {"HKEY_CURRENT_USER\\Software\\K",
       false,
       {{"ok", false, kRegDword, {1, 0, 0, 0}},
        {"a\n\"Evil\"=\"x\"", false, kRegSz, Text(std::string_view("x\0", 2))}}},
      {broken, false, {{"v", false, kRegDword, {2, 0, 0, 0}}}},
      {broken + "\\Hija", false, {{"w", false, kRegDword, {3, 0, 0, 0}}}},
  };
  std::vector<std::string> omitted;
  const Bytes bytes = RegFileBytes(keys, &omitted);
  EXPECT_EQ(omitted,
            (std::vector<std::string>{
                "[HKEY_CURRENT_USER\\Software\\Nul\\0x]",
                "[HKEY_CURRENT_USER\\Software\\K] \"a\\n\\\"Evil\\\"=\\\"x\\\"\"",
                "[HKEY_CURRENT_USER\\Software\\x\\r\\n[-HKEY_CURRENT_USER\\Software]\\r\\n]",
            }));

  const std::string text = RegFileText(keys);
  std::vector<std::string> sections;
  for (std::size_t start = 0, end = 0; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << line;
    if (line.starts_with("[")) sections.push_back(line);
  }
  EXPECT_EQ(sections, std::vector<std::string>{"[HKEY_CURRENT_USER\\Software\\K]"});

  MemoryRegistry registry;
  KeyRef kept = kNullKey;
  ASSERT_EQ(
      registry.CreateKey(kHkeyCurrentUser, "Software\\Kept", 0, kRegistroAccess, &kept, nullptr),
      kErrorSuccess);
  registry.CloseKey(kept);
  ASSERT_EQ(ImportRegFile(registry, bytes), "");
  const auto software = registry.Snapshot(kHkeyCurrentUser, "Software");
  ASSERT_TRUE(software.has_value());
  ASSERT_EQ(software->subkeys.size(), 2u);
  EXPECT_EQ(software->subkeys[0].name, "K");
  EXPECT_EQ(software->subkeys[0].values.size(), 1u);
  EXPECT_EQ(software->subkeys[1].name, "Kept");
}

}  // namespace
}  // namespace sorbantilex
