// Transparent pictures in every output: where the alpha goes, the picture is
// put on the background; at 32 bits the fully transparent pixels carry it.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_bitmaps.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

// The rgba8 fixture: alpha 0 in the first column, 255 in the last.
class Transparency : public ::testing::Test {
 protected:
  ImagePtr Convert(std::vector<std::string> options) {
    std::vector<std::string> arguments = {"-q", "-i", input, "-o", dir.Path(), "--filename-mask=out"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const auto run = test::RunKestrel(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    return Adopt(FreeImage_Load(FIF_BMP, dir.File("out").c_str(), 0));
  }

  test::TempDir dir;
  std::string input = test::MakePsd(dir.Path(), "clear.psd", "rgba8", 8, 4);
};

TEST_F(Transparency, EveryStepThatDropsAlphaShowsTheBackground) {
  const struct {
    std::vector<std::string> options;
    test::Rgb white, black;  // what the clear first column shows on each background
  } cases[] = {
      {{"--bmp-bpp=24"}, {255, 255, 255}, {0, 0, 0}},
      {{"--bmp-bpp=16"}, {255, 255, 255}, {0, 0, 0}},
      {{"--bmp-bpp=8"}, {255, 255, 255}, {0, 0, 0}},
      {{"--greyscale"}, {255, 255, 255}, {0, 0, 0}},
      {{"--threshold=128"}, {255, 255, 255}, {0, 0, 0}},
      {{"--dither=FS"}, {255, 255, 255}, {0, 0, 0}},
      {{"--fr-solid-right=1", "--fr-solid-right-color=FF0000"}, {255, 255, 255}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.front());
    for (const bool onBlack : {false, true}) {
      std::vector<std::string> options = c.options;
      if (onBlack) options.push_back("--background=black");
      ImagePtr image = Convert(options);
      ASSERT_TRUE(image);
      ImagePtr rgb = Adopt(FreeImage_ConvertTo24Bits(image.get()));
      // Within 2: an 8-bit palette holds the background only as near as its quantiser comes.
      for (unsigned y = 0; y < 4; ++y) {
        const test::Rgb seen = test::PixelAt(rgb.get(), 0, y), want = onBlack ? c.black : c.white;
        EXPECT_NEAR(seen.red, want.red, 2);
        EXPECT_NEAR(seen.green, want.green, 2);
        EXPECT_NEAR(seen.blue, want.blue, 2);
      }
    }
  }
}

TEST_F(Transparency, OpaquePixelsDoNotSeeTheBackground) {
  ImagePtr white = Convert({"--bmp-bpp=24"});
  ImagePtr black = Convert({"--bmp-bpp=24", "--background=black"});
  ASSERT_TRUE(white && black);
  for (unsigned y = 0; y < 4; ++y) EXPECT_EQ(test::PixelAt(white.get(), 7, y), test::PixelAt(black.get(), 7, y));
}

TEST_F(Transparency, ThirtyTwoBitsShowTheBackgroundToReadersThatIgnoreAlpha) {
  for (const auto& [option, colour] : {std::pair<std::string, test::Rgb>{"--background=white", {255, 255, 255}},
                                       {"--background=#102030", {0x10, 0x20, 0x30}}}) {
    ImagePtr image = Convert({option});
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 32u);
    for (unsigned y = 0; y < 4; ++y) {
      EXPECT_EQ(test::PixelAt(image.get(), 0, y), colour) << option;
      const BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(3 - y));
      EXPECT_EQ(line[FI_RGBA_ALPHA], 0);
    }
  }
}

}  // namespace
}  // namespace kestrel
