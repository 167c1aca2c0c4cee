// The file's stored patterns: generated pattern blocks (raw and run-length
// channels, with transparency, indexed, grey and multichannel ones) read back; damaged blocks
// refused without reading past them; and the tiling of the painter.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/composite/patterns.h"
#include "tests/support/pattern_blocks.h"

namespace kestrel {
namespace {

using test::Block;
using test::Bytes;
using test::Pattern;

const std::vector<std::vector<Bytes>> kRgbWithAlpha = {
    {{0, 255, 51}, {102, 0, 0}},
    {{10, 20, 30}, {40, 50, 60}},
    {{255, 0, 255}, {0, 255, 0}},
    {{255, 255, 0}, {255, 0, 255}},
};

TEST(Patterns, TilesReadBackInTheFilesSamples) {
  for (const bool runLength : {false, true}) {
    const std::optional<PatternTile> tile = DecodePattern(Pattern(3, "id", kRgbWithAlpha, runLength), 3, 3);
    ASSERT_TRUE(tile) << runLength;
    EXPECT_EQ(tile->width, 3);
    EXPECT_EQ(tile->height, 2);
    ASSERT_EQ(tile->colour.size(), 18u);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        for (int c = 0; c < 3; ++c) {
          EXPECT_FLOAT_EQ(tile->colour[static_cast<std::size_t>((y * 3 + x) * 3 + c)], kRgbWithAlpha[c][y][x] / 255.0f);
        }
        EXPECT_FLOAT_EQ(tile->alpha[static_cast<std::size_t>(y * 3 + x)], kRgbWithAlpha[3][y][x] / 255.0f);
      }
    }
  }
  // An indexed pattern goes through its table into RGB; a grey one into RGB as equal channels.
  Bytes table(256 * 3, 0);
  table[3 * 7] = 200, table[3 * 7 + 1] = 100, table[3 * 7 + 2] = 50;
  const std::optional<PatternTile> indexed = DecodePattern(Pattern(2, "i", {{{7}}}, false, table), 3, 3);
  ASSERT_TRUE(indexed);
  EXPECT_EQ(indexed->colour, (std::vector<float>{200 / 255.0f, 100 / 255.0f, 50 / 255.0f}));
  EXPECT_TRUE(indexed->alpha.empty());
  const std::optional<PatternTile> grey = DecodePattern(Pattern(1, "g", {{{51}}}, true), 3, 3);
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->colour, (std::vector<float>(3, 0.2f)));
  // A multichannel one (as textures come) is taken as grey from its first channel.
  const std::optional<PatternTile> multichannel = DecodePattern(Pattern(7, "m", {{{51}}}, false), 3, 3);
  ASSERT_TRUE(multichannel);
  EXPECT_EQ(multichannel->colour, (std::vector<float>(3, 0.2f)));
  // An RGB pattern in a CMYK file is not turned into ink here.
  EXPECT_FALSE(DecodePattern(Pattern(3, "c", kRgbWithAlpha, false), 4, 4));
}

TEST(Patterns, FoundByIdThenByName) {
  PatternLibrary library;
  const Bytes block = Block({Pattern(1, "first", {{{1, 2, 3}}}, false), Pattern(1, "second", {{{9}}}, false)});
  library.AddBlock(ByteReader(block));
  ASSERT_EQ(library.Size(), 2u);
  library = PatternLibrary({}, PsdHeader{1, 1, 1, 1, 8, 1}, 1);
  library.AddBlock(ByteReader(block));
  const auto second = library.Find(std::string("second\0", 7), "");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->width, 1);
  const auto byName = library.Find("elsewhere", "P");
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->width, 3);
  EXPECT_FALSE(library.Find("elsewhere", "Q"));
}

TEST(Patterns, DamagedBlocksAreRefusedWithinTheirBytes) {
  const Bytes good = Pattern(3, "id", kRgbWithAlpha, true);
  struct Case {
    const char* name;
    std::size_t at;  // which byte of the pattern to change: 8 its size, 12 its name, 25 its list's
                     // length, 45 the list's count, 53 the first channel's length, 69 its bottom, 79 its compression
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"no height", 8, {0, 0}},
      {"negative width", 10, {0x80, 0}},
      {"larger than a pattern may be", 8, {0x7f, 0xff, 0x7f, 0xff}},
      {"a name longer than the pattern", 12, {0x7f, 0xff, 0xff, 0xff}},
      {"a list longer than the pattern", 25, {0xff, 0xff, 0xff}},
      {"a channel longer than its list", 53, {0, 0xff, 0xff}},
      {"a channel of another size", 69, {0, 0, 0, 9}},
      {"an unknown compression", 79, {7}},
      {"too many channels", 45, {0xff, 0xff, 0xff, 0xff}},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + static_cast<std::ptrdiff_t>(c.at));
    EXPECT_FALSE(DecodePattern(bad, 3, 3)) << c.name;
  }
  // Cut short anywhere, a pattern is refused.
  for (std::size_t size = 0; size < good.size(); size += 7) {
    EXPECT_FALSE(DecodePattern(std::span(good).first(size), 3, 3)) << size;
  }
  // A block whose pattern claims more bytes than the block holds gives no patterns; a zero length neither.
  Bytes block = Block({good});
  block[0] = 0x7f;
  PatternLibrary library;
  library.AddBlock(ByteReader(block));
  EXPECT_EQ(library.Size(), 0u);
  library.AddBlock(ByteReader(Bytes(16, 0)));
  EXPECT_EQ(library.Size(), 0u);
}

TEST(Patterns, PainterRepeatsTheTileFromItsOrigin) {
  PatternTile tile{2, 1, 1, {0.0f, 1.0f}, {}};
  float colour[8], opacity[8];
  PatternPainter(tile, 1, 1, 0).Paint(PsdRect{5, 0, 6, 8}, colour, opacity);
  EXPECT_EQ(std::vector<float>(colour, colour + 8), (std::vector<float>{1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(std::vector<float>(opacity, opacity + 8), std::vector<float>(8, 1.0f));
  // At twice the size the tile repeats every four pixels, and at half the size it averages to one pixel.
  PatternPainter(tile, 2, 0, 0).Paint(PsdRect{0, 0, 1, 8}, colour, opacity);
  for (int x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(colour[x], colour[x + 4]) << x;
  EXPECT_LT(colour[0], colour[2]);
  PatternPainter(tile, 0.5, 0, 0).Paint(PsdRect{0, 0, 1, 3}, colour, opacity);
  EXPECT_EQ(std::vector<float>(colour, colour + 3), std::vector<float>(3, 0.5f));
  // At three quarters the first pixel covers the tile's [0, 4/3): a quarter of it is the second sample.
  PatternPainter(tile, 0.75, 0, 0).Paint(PsdRect{0, 0, 1, 1}, colour, opacity);
  EXPECT_NEAR(colour[0], 0.25f, 1e-5);
}

}  // namespace
}  // namespace kestrel
