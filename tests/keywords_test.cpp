#include <gtest/gtest.h>

#include "model/keywords.h"

namespace kestrel {
namespace {

struct LookupCase {
  const char* text;
  int set;
  int expected;
};

class KeywordLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(KeywordLookupTest, GivesTheNumber) {
  const auto& c = GetParam();
  EXPECT_EQ(KeywordLookup(c.text, c.set), c.expected) << c.text << " in set " << c.set;
}

INSTANTIATE_TEST_SUITE_P(
    Sets, KeywordLookupTest,
    ::testing::Values(LookupCase{"bayer8", 13, 2}, LookupCase{"Bayer8", 13, 2}, LookupCase{"BAYER8", 13, 2},
                      LookupCase{"BAYER 8", 13, 0}, LookupCase{"48HS", 1, 4}, LookupCase{"48hs", 1, 4},
                      LookupCase{"48", 1, 5}, LookupCase{"ZIP", 4, 1}, LookupCase{"lzw", 4, 6},
                      LookupCase{"TOPLEFT", 20, 0}, LookupCase{"TOP-LEFT", 20, 0},
                      LookupCase{"bottomright", 20, 8}, LookupCase{"anything", 21, 0},
                      LookupCase{"STRIKETHROUGHT", 17, 2}, LookupCase{"STRIKETHROUGH", 17, 0},
                      LookupCase{"2", 13, 0}, LookupCase{"", 22, 0}, LookupCase{"custom", 22, 2},
                      LookupCase{"lanczos", 12, 5}, LookupCase{"exact", 5, 1}, LookupCase{"cmyk", 6, 1},
                      // Sets 14 and 15 do not exist for lookup.
                      LookupCase{"SOLID", 14, 0}, LookupCase{"IMAGE", 15, 0}, LookupCase{"AUTO", 99, 0}));

TEST(KeywordText, NamesTheFirstKeywordOfAValue) {
  EXPECT_EQ(KeywordText(13, 3), "BAYER16");
  EXPECT_EQ(KeywordText(14, 1), "SOLID");
  EXPECT_EQ(KeywordText(15, 2), "IMAGE");
  EXPECT_EQ(KeywordText(22, 0), "CURRENT");
  EXPECT_EQ(KeywordText(20, 9), "");
  EXPECT_EQ(KeywordText(99, 0), "");
}

}  // namespace
}  // namespace kestrel
