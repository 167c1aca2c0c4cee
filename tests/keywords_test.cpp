#include <gtest/gtest.h>

#include "model/keywords.h"
#include "model/settings.h"

namespace kestrel {
namespace {

struct LookupCase {
  const char* text;
  KeywordSet set;
  int expected;
};

class KeywordLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(KeywordLookupTest, GivesTheNumber) {
  const auto& c = GetParam();
  EXPECT_EQ(KeywordLookup(c.text, c.set), c.expected) << c.text << " in set " << static_cast<int>(c.set);
}

using K = KeywordSet;
INSTANTIATE_TEST_SUITE_P(
    Sets, KeywordLookupTest,
    ::testing::Values(LookupCase{"bayer8", K::Dither, 2}, LookupCase{"Bayer8", K::Dither, 2},
                      LookupCase{"BAYER8", K::Dither, 2}, LookupCase{"BAYER 8", K::Dither, 0},
                      LookupCase{"48HS", K::RawLoadAs, 4}, LookupCase{"48hs", K::RawLoadAs, 4},
                      LookupCase{"48", K::RawLoadAs, 5}, LookupCase{"TOPLEFT", K::Position, 0},
                      LookupCase{"TOP-LEFT", K::Position, 0}, LookupCase{"bottomright", K::Position, 8},
                      LookupCase{"anything", K::WatermarkSize, 0}, LookupCase{"STRIKETHROUGHT", K::FontEffect, 2},
                      LookupCase{"STRIKETHROUGH", K::FontEffect, 0}, LookupCase{"2", K::Dither, 0},
                      LookupCase{"", K::FileTimestamp, 0}, LookupCase{"custom", K::FileTimestamp, 2},
                      LookupCase{"lanczos", K::ResizeFilter, 5}, LookupCase{"exact", K::ColourTable, 1},
                      LookupCase{"cmyk", K::ColourMode, 1},
                      // Compression numbers a word by the first output format that has it.
                      LookupCase{"ZIP", K::Compression, 1}, LookupCase{"lzw", K::Compression, 6},
                      LookupCase{"rle", K::Compression, 1}, LookupCase{"zlib9", K::Compression, 3},
                      LookupCase{"LOGLUV", K::Compression, 8},
                      // The frame and watermark kinds are for the report only.
                      LookupCase{"SOLID", K::FrameKind, 0}, LookupCase{"IMAGE", K::WatermarkKind, 0},
                      LookupCase{"AUTO", K::None, 0}));

TEST(KeywordText, NamesTheFirstKeywordOfAValue) {
  EXPECT_EQ(KeywordText(K::Dither, 3), "BAYER16");
  EXPECT_EQ(KeywordText(K::FrameKind, 1), "SOLID");
  EXPECT_EQ(KeywordText(K::WatermarkKind, 2), "IMAGE");
  EXPECT_EQ(KeywordText(K::FileTimestamp, 0), "CURRENT");
  EXPECT_EQ(KeywordText(K::Compression, 2), "PIZ");
  EXPECT_EQ(KeywordText(K::Position, 9), "");
  EXPECT_EQ(KeywordText(K::None, 0), "");
}

TEST(KeywordText, OfARowTakesACompressionFromItsOwnFormat) {
  const struct {
    SettingId id;
    int value;
    std::string_view text;
  } cases[] = {{SettingId::BmpCompression, 1, "RLE"},  {SettingId::BmpCompression, 6, ""},
               {SettingId::TiffCompression, 6, "LZW"}, {SettingId::PngCompression, 1, "ZLIB1"},
               {SettingId::Dither, 3, "BAYER16"},      {SettingId::DoWatermark, 1, "TEXT"},
               {SettingId::Width, 0, ""}};
  for (const auto& c : cases) EXPECT_EQ(KeywordTextOf(RowOf(c.id), c.value), c.text) << RowOf(c.id).key;
}

TEST(KeywordsOf, CompressionIsEveryFormatsMethodsOnceAndReportSetsAreEmpty) {
  const std::vector<std::string_view> compression = {
      "NONE",      "RLE",       "ZIP",      "PIZ",     "PXR24",        "B44", "ZLIB1", "ZLIB6", "ZLIB9",
      "CCITTFAX3", "CCITTFAX4", "PACKBITS", "DEFLATE", "ADOBEDEFLATE", "LZW", "JPEG",  "LOGLUV"};
  EXPECT_EQ(KeywordsOf(K::Compression), compression);
  EXPECT_EQ(KeywordsOf(K::SizeUnit), (std::vector<std::string_view>{"PIXELS", "PERCENT"}));
  EXPECT_TRUE(KeywordsOf(K::FrameKind).empty());
  EXPECT_TRUE(KeywordsOf(K::None).empty());
}

}  // namespace
}  // namespace kestrel
