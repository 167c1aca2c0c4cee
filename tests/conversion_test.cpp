// End-to-end conversions of generated Photoshop files: depth and every pixel kept.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "engine/bitmap/image.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

// The pixel values that tools/make_psd.py writes.
int Expected(int channel, int x, int y, int width, int height) {
  if (channel == 3) return (x * 255) / std::max(width - 1, 1);
  const int values[] = {(x * 255) / std::max(width - 1, 1), (y * 255) / std::max(height - 1, 1), ((x + y) * 7) % 256};
  return values[channel];
}

// The fixture's transparent merged image holds straight colour (its clear
// pixels are not white), so the colours are kept as stored; a fully
// transparent pixel takes the background colour, white by default.
int Straight(int channel, int x, int y, int width, int height) {
  return Expected(3, x, y, width, height) == 0 ? 255 : Expected(channel, x, y, width, height);
}

struct Case {
  const char* kind;
  unsigned bpp;
};

class Conversion : public ::testing::TestWithParam<Case> {};

TEST_P(Conversion, KeepsDepthAndPixels) {
  const int width = 37, height = 11;  // odd sizes exercise the BMP line padding
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "in.psd", GetParam().kind, width, height);
  const auto run = test::RunKestrel({"-q", "-i", input});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  ImagePtr bmp = Adopt(FreeImage_Load(FIF_BMP, dir.File("in.bmp").c_str(), 0));
  ASSERT_TRUE(bmp);
  ASSERT_EQ(FreeImage_GetBPP(bmp.get()), GetParam().bpp);
  ASSERT_EQ(FreeImage_GetWidth(bmp.get()), unsigned(width));
  ASSERT_EQ(FreeImage_GetHeight(bmp.get()), unsigned(height));
  for (int y = 0; y < height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(bmp.get(), height - 1 - y);
    for (int x = 0; x < width; ++x) {
      if (GetParam().bpp == 8) {
        const RGBQUAD colour = FreeImage_GetPalette(bmp.get())[line[x]];
        ASSERT_EQ(colour.rgbRed, Expected(0, x, y, width, height)) << x << "," << y;
        ASSERT_EQ(colour.rgbGreen, colour.rgbRed);
        continue;
      }
      const BYTE* p = line + x * GetParam().bpp / 8;
      const bool alpha = GetParam().bpp == 32;
      const auto Colour = [alpha](int c, int x, int y, int w, int h) {
        return alpha ? Straight(c, x, y, w, h) : Expected(c, x, y, w, h);
      };
      ASSERT_EQ(p[FI_RGBA_RED], Colour(0, x, y, width, height)) << x << "," << y;
      ASSERT_EQ(p[FI_RGBA_GREEN], Colour(1, x, y, width, height)) << x << "," << y;
      ASSERT_EQ(p[FI_RGBA_BLUE], Colour(2, x, y, width, height)) << x << "," << y;
      if (GetParam().bpp == 32) {
        ASSERT_EQ(p[FI_RGBA_ALPHA], Expected(3, x, y, width, height)) << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Conversion,
                         ::testing::Values(Case{"rgb8", 24}, Case{"rgba8", 32}, Case{"grey8", 8}),
                         [](const auto& info) { return std::string(info.param.kind); });

TEST(Conversion, ReplacesAnExistingOutputAndLeavesNoTemporaryFiles) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "in.psd", "rgb8", 5, 5);
  test::WriteText(dir.File("in.bmp"), "old");
  ASSERT_EQ(test::RunKestrel({"-q", "-i", input}).exitCode, 0);
  EXPECT_NE(test::ReadText(dir.File("in.bmp")), "old");
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "in.psd" || name == "in.bmp") << name;
  }
}

TEST(Conversion, AFailedSaveKeepsTheOldFile) {
  test::TempDir dir, lockDir;
  const std::string input = test::MakePsd(dir.Path(), "in.psd", "rgb8", 64, 64);
  test::WriteText(dir.File("in.bmp"), "old");
  // A file-size limit below the BMP's size makes the write fail part-way.
  const std::string command = "ulimit -f 4 && '" + std::string(KESTREL_BINARY) + "' -q -i '" + input + "'";
  const int status = std::system(("XDG_RUNTIME_DIR='" + lockDir.Path() + "' sh -c \"" + command + "\" >/dev/null 2>&1").c_str());
  EXPECT_NE(status, 0);
  EXPECT_EQ(test::ReadText(dir.File("in.bmp")), "old");
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "in.psd" || name == "in.bmp") << name;
  }
}

}  // namespace
}  // namespace kestrel
