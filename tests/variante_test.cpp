#include "registry/variante.h"

#include <gtest/gtest.h>

#include "registry/failure.h"

namespace sorbantilex {
namespace {

struct NumberCase {
  const char* name;
  Variante value;
  std::optional<std::int32_t> expected;  // nullopt: fails
  std::int32_t failure = 0;
};

class VarianteToInt32 : public ::testing::TestWithParam<NumberCase> {};

TEST_P(VarianteToInt32, ConvertsOrFailsWithANumberAndAText) {
  const NumberCase& c = GetParam();
  if (c.expected) {
    EXPECT_EQ(c.value.ToInt32(), *c.expected);
    return;
  }
  try {
    (void)c.value.ToInt32();
    ADD_FAILURE() << "converted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), c.failure);
    EXPECT_NE(failure.description().find("número"), std::string::npos);
  }
}

const NumberCase kNumberCases[] = {
    {"Empty", Variante(), 0},
    {"Int16", std::int16_t{-5}, -5},
    {"Int32", std::int32_t{70000}, 70000},
    {"Digits", "32", 32},
    {"PlusSign", "+7", 7},
    {"MinusSign", "-2147483648", INT32_MIN},
    {"Largest", "2147483647", INT32_MAX},
    {"LeadingZeros", "0007", 7},
    {"TooLarge", "2147483648", std::nullopt, kFailureOutOfRange},
    {"TooSmall", "-2147483649", std::nullopt, kFailureOutOfRange},
    {"ManyDigits", "99999999999999999999999", std::nullopt, kFailureOutOfRange},
    {"Letters", "abc", std::nullopt, kFailureNotANumber},
    {"EmptyText", "", std::nullopt, kFailureNotANumber},
    {"SignAlone", "-", std::nullopt, kFailureNotANumber},
    {"Spaces", " 1", std::nullopt, kFailureNotANumber},
    {"Decimal", "1.5", std::nullopt, kFailureNotANumber},
};

INSTANTIATE_TEST_SUITE_P(Values, VarianteToInt32, ::testing::ValuesIn(kNumberCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VarianteTest, TextOfIntegersIsDecimalAndOfEmptyIsEmpty) {
  EXPECT_EQ(Variante(std::int32_t{-12}).ToText(), "-12");
  EXPECT_EQ(Variante(std::int16_t{2}).ToText(), "2");
  EXPECT_EQ(Variante().ToText(), "");
  EXPECT_EQ(Variante("about:blank").ToText(), "about:blank");
}

}  // namespace
}  // namespace sorbantilex
