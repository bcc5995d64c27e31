#include "registry/reg_file.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_registry.h"
#include "reg_import.h"

namespace sorbantilex {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

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

}  // namespace
}  // namespace sorbantilex
