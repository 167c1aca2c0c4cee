// The output colour depth: automatic choice and conversion.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <string>

#include "engine/steps/depth.h"
#include "model/formats.h"
#include "tests/support/test_bitmaps.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::MakeBitmap;

class Depth : public ::testing::Test {
 protected:
  ImagePtr Convert(ImagePtr image, const std::string& extension, int target, bool automatic = false,
                   int loaded = 0) {
    run.conversion = extension;
    run.outputDepth = target;
    run.automaticDepth = automatic;
    run.loadedDepth = loaded;
    return ConvertToOutputDepth(std::move(image), run);
  }

  RunState run;
};

TEST_F(Depth, AutomaticDepthIsTheFirstAllowedThatHoldsTheLoadedOne) {
  const struct {
    int loaded, resolved;
  } cases[] = {{1, 1},   {2, 4},   {4, 4},   {5, 8},   {8, 8},   {9, 16},  {16, 16},
               {17, 24}, {24, 24}, {25, 32}, {32, 32}, {48, 32}, {64, 32}, {96, 32}, {128, 32}};
  for (const auto& c : cases) EXPECT_EQ(ResolveAutomaticDepth("bmp", c.loaded), c.resolved) << c.loaded;
  EXPECT_EQ(ResolveAutomaticDepth("nothing", 24), 0);
}

TEST_F(Depth, AutomaticDepthFollowsTheLoadedDepthAndIsStored) {
  // A 48-bit input, tone-mapped to 24 bits by the pipeline, is saved with 32.
  ImagePtr wide = Convert(MakeBitmap(8, 4, 24), "bmp", 0, true, 48);
  EXPECT_EQ(FreeImage_GetBPP(wide.get()), 32u);
  EXPECT_EQ(run.outputDepth, 32);
  // A 16-bit grey input, already made 8-bit grey, still goes to 16 bits (5-6-5).
  ImagePtr grey = Convert(MakeBitmap(8, 4, 8, FIT_BITMAP, true), "bmp", 0, true, 16);
  EXPECT_EQ(FreeImage_GetBPP(grey.get()), 16u);
  EXPECT_EQ(FreeImage_GetGreenMask(grey.get()), unsigned(FI16_565_GREEN_MASK));
  EXPECT_EQ(run.outputDepth, 16);
  // An indexed 8-bit image that stays 8-bit keeps its palette: no quantisation.
  ImagePtr indexed = MakeBitmap(8, 4, 8);
  ImagePtr original = test::CloneOf(indexed.get());
  FIBITMAP* before = indexed.get();
  ImagePtr after = Convert(std::move(indexed), "bmp", 0, true, 8);
  EXPECT_EQ(after.get(), before);
  EXPECT_TRUE(test::SameBitmap(after.get(), original.get()));
}

TEST_F(Depth, EveryBmpDepthFromEveryCommonDepth) {
  for (unsigned from : {1u, 4u, 8u, 16u, 24u, 32u}) {
    for (int target : {1, 4, 8, 16, 24, 32}) {
      ImagePtr after = Convert(MakeBitmap(13, 7, from), "bmp", target);
      ASSERT_TRUE(after) << from << " -> " << target;
      EXPECT_EQ(FreeImage_GetBPP(after.get()), unsigned(target)) << from << " -> " << target;
      EXPECT_EQ(FreeImage_GetWidth(after.get()), 13u);
    }
  }
}

TEST_F(Depth, EachTargetUsesItsConversion) {
  auto quantised = [](FIBITMAP* image) {
    ImagePtr rgb = Adopt(FreeImage_ConvertTo24Bits(image));
    return Adopt(FreeImage_ColorQuantizeEx(rgb.get(), FIQ_WUQUANT, 256, 0, nullptr));
  };
  const struct {
    const char* extension;
    unsigned from;
    int target;
    ImagePtr (*reference)(FIBITMAP*);
  } cases[] = {
      // 8 bits: 24 bits first, then the Wu palette. (A 32-bit picture is put on the background first.)
      {"bmp", 32, 8, +quantised},
      {"bmp", 16, 8, +quantised},
      {"bmp", 24, 8, +quantised},
      {"png", 24, 8, +quantised},
      {"jpg", 24, 8, [](FIBITMAP* i) { return Adopt(FreeImage_ConvertTo8Bits(i)); }},
      {"jxr", 32, 8, [](FIBITMAP* i) { return Adopt(FreeImage_ConvertTo8Bits(i)); }},
      {"bmp", 24, 1, [](FIBITMAP* i) { return Adopt(FreeImage_Dither(i, FID_FS)); }},
      {"bmp", 32, 4, [](FIBITMAP* i) { return Adopt(FreeImage_ConvertTo4Bits(i)); }},
      {"bmp", 32, 16, [](FIBITMAP* i) { return Adopt(FreeImage_ConvertTo16Bits565(i)); }},
      {"tga", 32, 16, [](FIBITMAP* i) { return Adopt(FreeImage_ConvertTo16Bits555(i)); }},
      {"ico", 24, 16, [](FIBITMAP* i) { return Adopt(FreeImage_ConvertTo16Bits555(i)); }},
  };
  for (const auto& c : cases) {
    ImagePtr image = MakeBitmap(40, 30, c.from);
    ImagePtr onWhite = test::CloneOf(image.get());
    PutOnBackground(onWhite.get(), RGBQUAD{255, 255, 255, 0});
    ImagePtr expected = c.reference(onWhite.get());
    ImagePtr after = Convert(std::move(image), c.extension, c.target);
    EXPECT_TRUE(test::SameBitmap(after.get(), expected.get())) << c.extension << " " << c.from << " -> " << c.target;
  }
}

TEST_F(Depth, WideImagesReachSixteenBitsThroughTwentyFour) {
  ImagePtr wide = MakeBitmap(8, 4, 48, FIT_RGB16);
  ImagePtr expected = Adopt(FreeImage_ConvertTo24Bits(wide.get()));
  expected = Adopt(FreeImage_ConvertTo16Bits565(expected.get()));
  EXPECT_TRUE(test::SameBitmap(Convert(std::move(wide), "bmp", 16).get(), expected.get()));
}

TEST_F(Depth, NoImageInGivesNoImageOutAndAFailedCallGivesNoImage) {
  EXPECT_FALSE(Convert(nullptr, "bmp", 8));
  EXPECT_FALSE(Convert(nullptr, "bmp", 0, true, 24));
  // Float colour cannot be made 24-bit by the plain conversion.
  EXPECT_FALSE(Convert(MakeBitmap(8, 4, 96, FIT_RGBF), "bmp", 8));
  for (int target : {1, 4, 8, 16, 32}) EXPECT_FALSE(Convert(test::HeaderOnly(8, 4, 24), "bmp", target)) << target;
}

// The same cases through the program, from generated Photoshop files. 16-bit
// samples come out as 8-bit ones: 16-bit RGB as 24 bits, 16-bit grey as 8-bit
// grey (a 5-6-5 bitmap would tint its greys).
TEST(DepthConversion, AutomaticDepthOfWholeConversions) {
  const struct {
    const char* kind;
    unsigned bpp;
  } cases[] = {{"rgb16", 24}, {"grey16", 8}, {"indexed8", 8}, {"rgba8", 32}, {"grey8", 8}};
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string input = test::MakePsd(dir.Path(), "in.psd", c.kind, 9, 5);
    const auto result = test::RunKestrel({"-q", "-i", input, "--bmp-bpp=0"});
    ASSERT_EQ(result.exitCode, 0) << c.kind << result.out;
    ImagePtr bmp = Adopt(FreeImage_Load(FIF_BMP, dir.File("in.bmp").c_str(), 0));
    ASSERT_TRUE(bmp) << c.kind;
    EXPECT_EQ(FreeImage_GetBPP(bmp.get()), c.bpp) << c.kind;
    if (std::string(c.kind) == "indexed8") {
      // The generator's palette and indexes come through untouched: index (x + y) % 16.
      const RGBQUAD* palette = FreeImage_GetPalette(bmp.get());
      for (unsigned i = 0; i < 16; ++i) {
        EXPECT_EQ(palette[i].rgbRed, (i * 17) % 256) << i;
        EXPECT_EQ(palette[i].rgbGreen, (255 - i * 17) % 256) << i;
        EXPECT_EQ(palette[i].rgbBlue, (i * 40) % 256) << i;
      }
      const BYTE* top = FreeImage_GetScanLine(bmp.get(), 4);
      for (unsigned x = 0; x < 9; ++x) EXPECT_EQ(top[x], x % 16) << x;
    }
  }
}

// One 32-bit pixel of each kind of coverage: opaque, half, clear.
ImagePtr ThreeCoverages() {
  ImagePtr image = Adopt(FreeImage_Allocate(3, 1, 32));
  BYTE* p = FreeImage_GetScanLine(image.get(), 0);
  const BYTE pixels[3][4] = {{10, 20, 30, 255}, {200, 100, 0, 128}, {7, 8, 9, 0}};  // B, G, R, A
  for (int x = 0; x < 3; ++x) {
    for (int c = 0; c < 4; ++c) p[4 * x + c] = pixels[x][c];
  }
  return image;
}

TEST_F(Depth, DepthsWithoutAlphaPutThePictureOnTheBackground) {
  const RGBQUAD white{255, 255, 255, 0}, black{0, 0, 0, 0}, green{0, 255, 0, 0};
  // Straight colour: c * a + background * (255 - a), over 255, rounded.
  for (int target : {24, 16, 8}) {
    run.conversion = "bmp";
    run.outputDepth = target;
    ImagePtr over = ConvertToOutputDepth(ThreeCoverages(), run, white);
    ASSERT_TRUE(over) << target;
    if (target != 24) continue;
    EXPECT_EQ(test::PixelAt(over.get(), 0, 0), (test::Rgb{30, 20, 10}));
    EXPECT_EQ(test::PixelAt(over.get(), 1, 0), (test::Rgb{(0 * 128 + 255 * 127 + 127) / 255, (100 * 128 + 255 * 127 + 127) / 255,
                                                          (200 * 128 + 255 * 127 + 127) / 255}));
    EXPECT_EQ(test::PixelAt(over.get(), 2, 0), (test::Rgb{255, 255, 255}));
  }
  run.outputDepth = 24;
  ImagePtr onBlack = ConvertToOutputDepth(ThreeCoverages(), run, black);
  EXPECT_EQ(test::PixelAt(onBlack.get(), 1, 0), (test::Rgb{0, (100 * 128 + 127) / 255, (200 * 128 + 127) / 255}));
  EXPECT_EQ(test::PixelAt(onBlack.get(), 2, 0), (test::Rgb{0, 0, 0}));
  ImagePtr onGreen = ConvertToOutputDepth(ThreeCoverages(), run, green);
  EXPECT_EQ(test::PixelAt(onGreen.get(), 2, 0), (test::Rgb{0, 255, 0}));
}

TEST_F(Depth, ThirtyTwoBitsGiveClearPixelsTheBackgroundAndKeepTheRest) {
  run.conversion = "bmp";
  run.outputDepth = 32;
  ImagePtr image = ConvertToOutputDepth(ThreeCoverages(), run, RGBQUAD{0, 128, 255, 0});
  ASSERT_TRUE(image);
  const BYTE* p = FreeImage_GetScanLine(image.get(), 0);
  // Straight colour and alpha where there is coverage; the background's colour at alpha 0.
  const BYTE expected[3][4] = {{10, 20, 30, 255}, {200, 100, 0, 128}, {0, 128, 255, 0}};
  for (int x = 0; x < 3; ++x) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(p[4 * x + c], expected[x][c]) << x << " " << c;
  }
}

TEST_F(Depth, OpaquePicturesAreLeftAsTheyWere) {
  ImagePtr image = MakeBitmap(5, 3, 32);
  for (unsigned y = 0; y < 3; ++y) {
    BYTE* p = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned x = 0; x < 5; ++x) p[4 * x + FI_RGBA_ALPHA] = 255;
  }
  ImagePtr before = test::CloneOf(image.get());
  PutOnBackground(image.get(), RGBQUAD{1, 2, 3, 0});
  EXPECT_TRUE(test::SameBitmap(image.get(), before.get()));
  // Only 32-bit bitmaps have alpha to put on a background.
  ImagePtr rgb = MakeBitmap(5, 3, 24);
  ImagePtr rgbBefore = test::CloneOf(rgb.get());
  PutOnBackground(rgb.get(), RGBQUAD{1, 2, 3, 0});
  EXPECT_TRUE(test::SameBitmap(rgb.get(), rgbBefore.get()));
}

TEST(Background, TheSettingGivesTheColour) {
  Settings settings = test::DefaultSettings();
  const RGBQUAD white = BackgroundColour(settings);
  EXPECT_EQ(white.rgbRed + white.rgbGreen + white.rgbBlue, 3 * 255);
  settings.SetText(SettingId::Background, "FF8000");
  const RGBQUAD orange = BackgroundColour(settings);
  EXPECT_EQ(orange.rgbRed, 255);
  EXPECT_EQ(orange.rgbGreen, 128);
  EXPECT_EQ(orange.rgbBlue, 0);
}

}  // namespace
}  // namespace kestrel
