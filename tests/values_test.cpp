#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "model/values.h"

namespace kestrel {
namespace {

struct IntegerCase {
  const char* text;
  std::int32_t expected;
};

class LenientInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(LenientInteger, ReadsTheLeadingNumber) {
  EXPECT_EQ(ReadLenientInteger(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LenientInteger,
    ::testing::Values(IntegerCase{"50", 50}, IntegerCase{"50%", 50}, IntegerCase{"9x", 9}, IntegerCase{"abc", 0},
                      IntegerCase{"", 0}, IntegerCase{" \t 12", 12}, IntegerCase{"+7", 7}, IntegerCase{"-20", -20},
                      IntegerCase{"$ff", 255}, IntegerCase{"-$10", -16}, IntegerCase{"$G", 0},
                      IntegerCase{"%101", 5}, IntegerCase{"%102", 2}, IntegerCase{"1 2", 1},
                      // The low 32 bits of a longer reading are kept.
                      IntegerCase{"4294967297", 1}, IntegerCase{"2147483648", INT32_MIN}));

TEST(LenientInteger, KeepsSixtyFourBitsForDates) {
  EXPECT_EQ(ReadLenientInteger64("5000000000"), 5000000000LL);
  EXPECT_EQ(ReadLenientInteger64("-100000"), -100000);
}

TEST(Real, ReadsDecimalNumbersWhateverTheLocale) {
  // A locale with a decimal comma must not change how "." reads.
  const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_FLOAT_EQ(ReadReal("1.5"), 1.5f);
  EXPECT_FLOAT_EQ(ReadReal("1,5"), 1.0f);
  if (previous != nullptr) std::setlocale(LC_NUMERIC, "C");
  EXPECT_FLOAT_EQ(ReadReal("0.01"), 0.01f);
  EXPECT_FLOAT_EQ(ReadReal("-2.25e1"), -22.5f);
  EXPECT_FLOAT_EQ(ReadReal(".5"), 0.5f);
  EXPECT_FLOAT_EQ(ReadReal("abc"), 0.0f);
  EXPECT_FLOAT_EQ(ReadReal(""), 0.0f);
  EXPECT_FLOAT_EQ(ReadReal("inf"), 0.0f);
  EXPECT_TRUE(std::isinf(ReadReal("+Infinity")) && ReadReal("+infinity") > 0);
  EXPECT_TRUE(std::isinf(ReadReal("-INFINITY")) && ReadReal("-Infinity") < 0);
  EXPECT_TRUE(std::isnan(ReadReal("nan")));
  EXPECT_TRUE(std::isinf(ReadReal("1e999")));
}

}  // namespace
}  // namespace kestrel
