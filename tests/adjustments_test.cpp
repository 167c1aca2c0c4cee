// Colour adjustment, greyscale, threshold and dithering on bitmaps built in the test.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <functional>
#include <ostream>
#include <string>

#include "engine/steps/adjustments.h"
#include "engine/steps/depth.h"
#include "tests/support/test_bitmaps.h"

namespace kestrel {
namespace {

using test::MakeBitmap;

// Every colour step switched on, with neutral values.
Settings AllStepsOn() {
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageColorCorrection, 1);
  settings.SetNumber(SettingId::Greyscale, 1);
  settings.SetNumber(SettingId::DoImageThreshold, 1);
  settings.SetNumber(SettingId::Threshold, 128);
  settings.SetNumber(SettingId::DoImageDither, 1);
  return settings;
}

// A 256x2 greyscale ramp: pixel x has the value x.
ImagePtr GreyRamp(unsigned bpp) {
  ImagePtr image = Adopt(FreeImage_Allocate(256, 2, static_cast<int>(bpp)));
  for (unsigned x = 0; x < 256; ++x)
    for (unsigned y = 0; y < 2; ++y) test::SetPixel(image.get(), x, y, {int(x), int(x), int(x)});
  // Opaque: a transparent pixel would show the background instead.
  if (bpp == 32) {
    for (unsigned y = 0; y < 2; ++y) {
      BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
      for (unsigned x = 0; x < 256; ++x) line[4 * x + FI_RGBA_ALPHA] = 255;
    }
  }
  return image;
}

bool BitAt(FIBITMAP* image, unsigned x, unsigned y) {
  const BYTE* line = FreeImage_GetScanLine(image, static_cast<int>(FreeImage_GetHeight(image) - 1 - y));
  const unsigned index = (line[x / 8] >> (7 - x % 8)) & 1;
  return FreeImage_GetPalette(image)[index].rgbRed != 0;
}

TEST(AdjustColours, InvertGivesTheComplementAtEveryDepthItTakes) {
  for (unsigned bpp : {24u, 32u}) {
    ImagePtr image = MakeBitmap(9, 5, bpp);
    ImagePtr original = test::CloneOf(image.get());
    Settings settings = test::DefaultSettings();
    settings.SetNumber(SettingId::DoImageColorCorrection, 1);
    settings.SetNumber(SettingId::Invert, 1);
    FIBITMAP* before = image.get();
    ImagePtr after = AdjustColours(std::move(image), settings);
    ASSERT_EQ(after.get(), before) << "adjusted in place";
    for (unsigned y = 0; y < 5; ++y) {
      for (unsigned x = 0; x < 9; ++x) {
        const test::Rgb was = test::PixelAt(original.get(), x, y), now = test::PixelAt(after.get(), x, y);
        ASSERT_EQ(now, (test::Rgb{255 - was.red, 255 - was.green, 255 - was.blue})) << bpp << " at " << x << "," << y;
      }
    }
  }
}

TEST(AdjustColours, AOneBitImageBecomesTwentyFourBitsAndIsInverted) {
  ImagePtr image = MakeBitmap(16, 3, 1, FIT_BITMAP, true);
  ImagePtr expected = Adopt(FreeImage_ConvertTo24Bits(image.get()));
  FreeImage_AdjustColors(expected.get(), 0, 0, 1.0, TRUE);
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageColorCorrection, 1);
  settings.SetNumber(SettingId::Invert, 1);
  ImagePtr after = AdjustColours(std::move(image), settings);
  EXPECT_EQ(FreeImage_GetBPP(after.get()), 24u);
  EXPECT_TRUE(test::SameBitmap(after.get(), expected.get()));
}

TEST(AdjustColours, PassesTheStoredValuesAsTheyAre) {
  const struct {
    int brightness, contrast;
    float gamma;
  } cases[] = {{20, 0, 1.0f}, {-40, 30, 1.0f}, {0, 0, 2.2f}, {10, -100, 0.5f}};
  for (const auto& c : cases) {
    ImagePtr image = MakeBitmap(9, 5, 24);
    ImagePtr expected = test::CloneOf(image.get());
    FreeImage_AdjustColors(expected.get(), c.brightness, c.contrast, static_cast<double>(c.gamma), FALSE);
    Settings settings = test::DefaultSettings();
    settings.SetNumber(SettingId::DoImageColorCorrection, 1);
    settings.SetNumber(SettingId::Brightness, c.brightness);
    settings.SetNumber(SettingId::Contrast, c.contrast);
    settings.SetReal(SettingId::Gamma, c.gamma);
    ImagePtr after = AdjustColours(std::move(image), settings);
    EXPECT_TRUE(test::SameBitmap(after.get(), expected.get())) << c.brightness << " " << c.contrast << " " << c.gamma;
  }
}

TEST(Threshold, SplitsARampAtTheLevel) {
  const struct {
    int setting;
    unsigned firstWhite;
  } cases[] = {{128, 128}, {1, 1}, {256, 0}, {300, 44}, {-1, 255}};
  for (unsigned bpp : {8u, 24u, 32u}) {
    for (const auto& c : cases) {
      Settings settings = test::DefaultSettings();
      settings.SetNumber(SettingId::DoImageThreshold, 1);
      settings.SetNumber(SettingId::Threshold, c.setting);
      ImagePtr image = bpp == 8 ? Adopt(FreeImage_ConvertToGreyscale(GreyRamp(24).get())) : GreyRamp(bpp);
      ImagePtr after = ApplyThreshold(std::move(image), settings);
      ASSERT_TRUE(after);
      ASSERT_EQ(FreeImage_GetBPP(after.get()), 1u);
      for (unsigned x = 0; x < 256; ++x) {
        ASSERT_EQ(BitAt(after.get(), x, 0), x >= c.firstWhite) << "threshold " << c.setting << " at " << x;
      }
    }
  }
}

TEST(Dither, EachKeywordUsesItsAlgorithm) {
  const struct {
    int keyword;
    FREE_IMAGE_DITHER algorithm;
  } cases[] = {{0, FID_FS},           {1, FID_BAYER4x4},    {2, FID_BAYER8x8},      {3, FID_BAYER16x16},
               {4, FID_CLUSTER6x6},   {5, FID_CLUSTER8x8},  {6, FID_CLUSTER16x16},  {7, FID_FS}};
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageDither, 1);
  for (const auto& c : cases) {
    settings.SetNumber(SettingId::Dither, c.keyword);
    ImagePtr image = MakeBitmap(64, 40, 24);
    ImagePtr expected = Adopt(FreeImage_Dither(image.get(), c.algorithm));
    ImagePtr after = ApplyDither(std::move(image), settings);
    ASSERT_EQ(FreeImage_GetBPP(after.get()), 1u);
    EXPECT_TRUE(test::SameBitmap(after.get(), expected.get())) << "keyword " << c.keyword;
  }
}

TEST(Dither, Bayer16DiffersFromBayer4AndFromCluster6) {
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageDither, 1);
  auto dithered = [&](int keyword) {
    settings.SetNumber(SettingId::Dither, keyword);
    return ApplyDither(GreyRamp(24), settings);
  };
  const ImagePtr bayer16 = dithered(3);
  EXPECT_FALSE(test::SameBitmap(bayer16.get(), dithered(1).get()));
  EXPECT_FALSE(test::SameBitmap(bayer16.get(), dithered(4).get()));
}

TEST(Greyscale, GivesEightBitGreyOfTheLibrary) {
  for (unsigned bpp : {1u, 8u, 24u, 32u}) {
    ImagePtr image = MakeBitmap(9, 5, bpp);
    // Grey has no alpha: a 32-bit picture is put on the (white) background first.
    ImagePtr onWhite = test::CloneOf(image.get());
    PutOnBackground(onWhite.get(), RGBQUAD{255, 255, 255, 0});
    ImagePtr expected = Adopt(FreeImage_ConvertToGreyscale(onWhite.get()));
    Settings settings = test::DefaultSettings();
    settings.SetNumber(SettingId::Greyscale, 1);
    ImagePtr after = ApplyGreyscale(std::move(image), settings);
    EXPECT_EQ(FreeImage_GetBPP(after.get()), 8u) << bpp;
    EXPECT_EQ(FreeImage_GetColorType(after.get()), FIC_MINISBLACK) << bpp;
    EXPECT_TRUE(test::SameBitmap(after.get(), expected.get())) << bpp;
  }
}

using Step = std::function<ImagePtr(ImagePtr, const Settings&)>;

struct StepDepth {
  const char* name;
  Step step;
  FREE_IMAGE_TYPE type;
  unsigned bpp;
  unsigned resultBpp;
};

void PrintTo(const StepDepth& value, std::ostream* out) { *out << value.name; }

class ColourStepDepth : public ::testing::TestWithParam<StepDepth> {};

// Depths outside what a step takes directly are made 24-bit first; without
// that, 48-bit pictures would fail and 1-bit ones would not be adjusted.
TEST_P(ColourStepDepth, TakesOrConvertsTheDepth) {
  const StepDepth& c = GetParam();
  ImagePtr after = c.step(MakeBitmap(16, 4, c.bpp, c.type, true), AllStepsOn());
  ASSERT_TRUE(after);
  EXPECT_EQ(FreeImage_GetImageType(after.get()), FIT_BITMAP);
  EXPECT_EQ(FreeImage_GetBPP(after.get()), c.resultBpp);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ColourStepDepth,
    ::testing::Values(StepDepth{"adjust1", AdjustColours, FIT_BITMAP, 1, 24},
                      StepDepth{"adjust4", AdjustColours, FIT_BITMAP, 4, 24},
                      StepDepth{"adjust8", AdjustColours, FIT_BITMAP, 8, 8},
                      StepDepth{"adjust16", AdjustColours, FIT_BITMAP, 16, 16},
                      StepDepth{"adjust32", AdjustColours, FIT_BITMAP, 32, 32},
                      StepDepth{"adjust48", AdjustColours, FIT_RGB16, 48, 24},
                      StepDepth{"adjust64", AdjustColours, FIT_RGBA16, 64, 24},
                      StepDepth{"greyscale1", ApplyGreyscale, FIT_BITMAP, 1, 8},
                      StepDepth{"greyscale16", ApplyGreyscale, FIT_BITMAP, 16, 8},
                      StepDepth{"greyscale48", ApplyGreyscale, FIT_RGB16, 48, 8},
                      StepDepth{"threshold1", ApplyThreshold, FIT_BITMAP, 1, 1},
                      StepDepth{"threshold4", ApplyThreshold, FIT_BITMAP, 4, 1},
                      StepDepth{"threshold48", ApplyThreshold, FIT_RGB16, 48, 1},
                      StepDepth{"dither1", ApplyDither, FIT_BITMAP, 1, 1},
                      StepDepth{"dither16", ApplyDither, FIT_BITMAP, 16, 1},
                      StepDepth{"dither64", ApplyDither, FIT_RGBA16, 64, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColourSteps, SwitchedOffTheyHandBackTheSameImage) {
  const Settings off = test::DefaultSettings();
  for (Step step : {Step(AdjustColours), Step(ApplyGreyscale), Step(ApplyThreshold), Step(ApplyDither)}) {
    ImagePtr image = MakeBitmap(8, 4, 24);
    ImagePtr original = test::CloneOf(image.get());
    FIBITMAP* before = image.get();
    ImagePtr after = step(std::move(image), off);
    EXPECT_EQ(after.get(), before);
    EXPECT_TRUE(test::SameBitmap(after.get(), original.get()));
  }
}

TEST(ColourSteps, NoImageInGivesNoImageOutAndAFailedCallGivesNoImage) {
  const Settings on = AllStepsOn();
  ASSERT_TRUE(test::HeaderOnly(8, 4, 24));
  for (Step step : {Step(AdjustColours), Step(ApplyGreyscale), Step(ApplyThreshold), Step(ApplyDither)}) {
    EXPECT_FALSE(step(nullptr, on));
  }
  // The adjustment's own verdict is ignored: the picture it could not change goes on.
  EXPECT_TRUE(AdjustColours(test::HeaderOnly(8, 4, 24), on));
  EXPECT_FALSE(ApplyGreyscale(test::HeaderOnly(8, 4, 24), on));
  EXPECT_FALSE(ApplyThreshold(test::HeaderOnly(8, 4, 24), on));
  EXPECT_FALSE(ApplyDither(test::HeaderOnly(8, 4, 24), on));
  // A conversion to 24 bits that fails (no pixels) ends the chain too.
  EXPECT_FALSE(AdjustColours(test::HeaderOnly(8, 4, 1), on));
}

}  // namespace
}  // namespace kestrel
