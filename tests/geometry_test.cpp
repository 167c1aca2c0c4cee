// Rotation, resize and flips on bitmaps built in the test.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <ostream>
#include <string>
#include <vector>

#include "engine/steps/geometry.h"
#include "tests/support/test_bitmaps.h"

namespace kestrel {
namespace {

using test::MakeBitmap;
using test::PixelAt;
using test::Rgb;

Settings RotationSettings(int angle, int type, const std::string& background = "000000") {
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageRotation, 1);
  settings.SetNumber(SettingId::Rotation, angle);
  settings.SetNumber(SettingId::RotationType, type);
  settings.SetText(SettingId::RotationBackColor, background);
  return settings;
}

TEST(Rotation, NinetyDegreesTurnsCounterClockwise) {
  // A 24-bit 5x3 picture with one marked pixel at (1, 0), seen from the top-left.
  ImagePtr image = MakeBitmap(5, 3, 24);
  test::SetPixel(image.get(), 1, 0, {255, 0, 0});
  ImagePtr rotated = RotateImage(std::move(image), RotationSettings(90, 0));
  ASSERT_TRUE(rotated);
  ASSERT_EQ(FreeImage_GetWidth(rotated.get()), 3u);
  ASSERT_EQ(FreeImage_GetHeight(rotated.get()), 5u);
  // (x, y) of a w-wide picture goes to (y, w - 1 - x).
  EXPECT_EQ(PixelAt(rotated.get(), 0, 3), (Rgb{255, 0, 0}));
}

TEST(Rotation, AdvancedTurnsAboutTheCentreWithinTheSameSize) {
  // A uniform 3x3 block keeps the check clear of the resampling at its edges.
  ImagePtr image = Adopt(FreeImage_Allocate(21, 21, 24));
  for (unsigned y = 2; y < 5; ++y)
    for (unsigned x = 14; x < 17; ++x) test::SetPixel(image.get(), x, y, {0, 0, 200});
  ImagePtr rotated = RotateImage(std::move(image), RotationSettings(90, 1));
  ASSERT_TRUE(rotated);
  EXPECT_EQ(FreeImage_GetWidth(rotated.get()), 21u);
  EXPECT_EQ(FreeImage_GetHeight(rotated.get()), 21u);
  EXPECT_EQ(PixelAt(rotated.get(), 3, 5), (Rgb{0, 0, 200}));
  EXPECT_EQ(PixelAt(rotated.get(), 15, 3), (Rgb{0, 0, 0}));
}

TEST(Rotation, SimpleFillsTheCornersWithTheBackgroundColour) {
  const struct {
    const char* text;
    Rgb corner;
  } cases[] = {{"FF0000", {255, 0, 0}}, {"00FF80", {0, 255, 128}}, {"FF000", {0, 0, 0}}, {"FF00000", {0, 0, 0}}};
  for (const auto& c : cases) {
    ImagePtr rotated = RotateImage(MakeBitmap(20, 20, 24), RotationSettings(45, 0, c.text));
    ASSERT_TRUE(rotated) << c.text;
    EXPECT_EQ(PixelAt(rotated.get(), 0, 0), c.corner) << c.text;
  }
}

struct DepthCase {
  const char* name;
  FREE_IMAGE_TYPE type;
  unsigned bpp;
  unsigned rotatedBpp;
};

void PrintTo(const DepthCase& value, std::ostream* out) { *out << value.name; }

class RotationDepth : public ::testing::TestWithParam<DepthCase> {};

// Standard 24- and 32-bit pictures rotate as they are, all others become
// 24-bit first. Greyscale sample types and float colour, which the 24-bit
// conversion cannot read, are brought to standard pixels on the way; float
// colour with alpha keeps its alpha.
TEST_P(RotationDepth, RotatesAtTheDepthItCanTake) {
  for (int type : {0, 1}) {
    ImagePtr image = MakeBitmap(8, 6, GetParam().bpp, GetParam().type, GetParam().type != FIT_BITMAP);
    ImagePtr rotated = RotateImage(std::move(image), RotationSettings(90, type));
    ASSERT_TRUE(rotated) << "rotation type " << type;
    EXPECT_EQ(FreeImage_GetImageType(rotated.get()), FIT_BITMAP);
    EXPECT_EQ(FreeImage_GetBPP(rotated.get()), GetParam().rotatedBpp) << "rotation type " << type;
    EXPECT_EQ(FreeImage_GetWidth(rotated.get()), type == 0 ? 6u : 8u);
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, RotationDepth,
                         ::testing::Values(DepthCase{"bits1", FIT_BITMAP, 1, 24}, DepthCase{"bits4", FIT_BITMAP, 4, 24},
                                           DepthCase{"bits8", FIT_BITMAP, 8, 24},
                                           DepthCase{"bits16", FIT_BITMAP, 16, 24},
                                           DepthCase{"bits24", FIT_BITMAP, 24, 24},
                                           DepthCase{"bits32", FIT_BITMAP, 32, 32}, DepthCase{"rgb16", FIT_RGB16, 48, 24},
                                           DepthCase{"rgba16", FIT_RGBA16, 64, 24},
                                           DepthCase{"grey16", FIT_UINT16, 16, 24},
                                           DepthCase{"greyFloat", FIT_FLOAT, 32, 24}, DepthCase{"rgbf", FIT_RGBF, 96, 24},
                                           DepthCase{"rgbaf", FIT_RGBAF, 128, 32}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Rotation, AnglesOutsideOneTo359AndTheSwitchOffDoNothing) {
  for (int angle : {0, 360, -90, 450}) {
    ImagePtr image = MakeBitmap(8, 6, 8);
    FIBITMAP* before = image.get();
    ImagePtr after = RotateImage(std::move(image), RotationSettings(angle, 0));
    EXPECT_EQ(after.get(), before) << angle;
    EXPECT_EQ(FreeImage_GetBPP(after.get()), 8u) << angle;
  }
  Settings off = RotationSettings(90, 0);
  off.SetNumber(SettingId::DoImageRotation, 0);
  ImagePtr image = MakeBitmap(8, 6, 8);
  FIBITMAP* before = image.get();
  EXPECT_EQ(RotateImage(std::move(image), off).get(), before);
}

TEST(Rotation, AnUnknownTypeConvertsWithoutRotating) {
  ImagePtr image = MakeBitmap(8, 6, 8);
  ImagePtr reference = Adopt(FreeImage_ConvertTo24Bits(image.get()));
  ImagePtr after = RotateImage(std::move(image), RotationSettings(90, 2));
  EXPECT_TRUE(test::SameBitmap(after.get(), reference.get()));
}

TEST(TargetDimension, PixelsPercentAndOtherUnits) {
  const struct {
    int value, unit;
    unsigned current;
    int expected;
  } cases[] = {
      {50, 1, 201, 100},  // 100.5: a half goes to the even neighbour
      {50, 1, 203, 102},  // 101.5
      {150, 1, 3, 4},     // 4.5
      {50, 1, 200, 100}, {33, 1, 10, 3}, {640, 0, 10, 640}, {-5, 0, 10, -5},
      {50, 2, 200, 0},    {50, -1, 200, 0},
      {2147483647, 1, 65535, 2147483647},  // far beyond an int: held at the largest
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TargetDimension(c.value, c.unit, c.current), c.expected)
        << c.value << " unit " << c.unit << " of " << c.current;
  }
}

struct ResizeCase {
  const char* name;
  unsigned width, height;
  int targetWidth, widthUnit, targetHeight, heightUnit;
  bool keepAspect;
  int resizeType;
  unsigned newWidth, newHeight;  // 0, 0: the step hands the same image back
};

void PrintTo(const ResizeCase& value, std::ostream* out) { *out << value.name; }

class Resize : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(Resize, GivesTheExpectedSize) {
  const ResizeCase& c = GetParam();
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageResize, 1);
  settings.SetNumber(SettingId::Width, c.targetWidth);
  settings.SetNumber(SettingId::WidthUnit, c.widthUnit);
  settings.SetNumber(SettingId::Height, c.targetHeight);
  settings.SetNumber(SettingId::HeightUnit, c.heightUnit);
  settings.SetNumber(SettingId::KeepAspectRatio, c.keepAspect ? 1 : 0);
  settings.SetNumber(SettingId::ResizeType, c.resizeType);
  ImagePtr image = MakeBitmap(c.width, c.height, 24);
  FIBITMAP* before = image.get();
  ImagePtr after = ResizeImage(std::move(image), settings, c.width, c.height);
  ASSERT_TRUE(after);
  if (c.newWidth == 0) {
    EXPECT_EQ(after.get(), before);
    return;
  }
  EXPECT_NE(after.get(), before);
  EXPECT_EQ(FreeImage_GetWidth(after.get()), c.newWidth);
  EXPECT_EQ(FreeImage_GetHeight(after.get()), c.newHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Resize,
    ::testing::Values(
        ResizeCase{"AspectLandscape", 300, 200, 100, 0, 100, 0, true, 0, 100, 67},
        ResizeCase{"AspectPortrait", 200, 300, 100, 0, 100, 0, true, 0, 67, 100},
        // The raw targets differ from the image's size, so it is resampled to its own size.
        ResizeCase{"AspectEndsAtOwnSize", 300, 200, 300, 0, 50, 0, true, 0, 300, 200},
        ResizeCase{"NoAspect", 300, 200, 100, 0, 100, 0, false, 0, 100, 100},
        ResizeCase{"Percent", 201, 203, 50, 1, 50, 1, false, 0, 100, 102},
        ResizeCase{"SameSize", 64, 48, 64, 0, 48, 0, false, 0, 0, 0},
        ResizeCase{"SamePercent", 64, 48, 100, 1, 100, 1, true, 0, 0, 0},
        ResizeCase{"LargeImagesSmaller", 640, 480, 800, 0, 600, 0, false, 1, 0, 0},
        ResizeCase{"LargeImagesReachesHeight", 640, 700, 800, 0, 600, 0, false, 1, 800, 600},
        ResizeCase{"AllImagesEnlarges", 640, 480, 800, 0, 600, 0, false, 0, 800, 600},
        ResizeCase{"NegativeTarget", 64, 48, -10, 0, 20, 0, false, 0, 0, 0},
        ResizeCase{"PercentToNothing", 40, 48, 1, 1, 50, 1, false, 0, 0, 0},
        // A very flat picture keeps at least one line rather than failing.
        ResizeCase{"NarrowKeepsOneLine", 3000, 2, 100, 0, 100, 0, true, 0, 100, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Resize, EachAlgorithmUsesItsFilter) {
  const struct {
    int algorithm;
    FREE_IMAGE_FILTER filter;
  } cases[] = {{0, FILTER_BOX},        {1, FILTER_BILINEAR}, {2, FILTER_BSPLINE}, {3, FILTER_BICUBIC},
               {4, FILTER_CATMULLROM}, {5, FILTER_LANCZOS3}, {6, FILTER_BICUBIC}, {200, FILTER_BICUBIC}};
  Settings settings = test::DefaultSettings();
  settings.SetNumber(SettingId::DoImageResize, 1);
  settings.SetNumber(SettingId::Width, 23);
  settings.SetNumber(SettingId::Height, 17);
  std::vector<ImagePtr> results;
  for (const auto& c : cases) {
    settings.SetNumber(SettingId::ResizeAlgorithm, c.algorithm);
    ImagePtr image = MakeBitmap(61, 43, 24);
    ImagePtr reference = Adopt(FreeImage_Rescale(image.get(), 23, 17, c.filter));
    ImagePtr after = ResizeImage(std::move(image), settings, 61, 43);
    EXPECT_TRUE(test::SameBitmap(after.get(), reference.get())) << "algorithm " << c.algorithm;
    results.push_back(std::move(after));
  }
  // The six filters give six different pictures, so the comparison above can tell them apart.
  for (std::size_t i = 0; i < 6; ++i)
    for (std::size_t j = i + 1; j < 6; ++j) EXPECT_FALSE(test::SameBitmap(results[i].get(), results[j].get()));
}

TEST(Flip, MovesAMarkedPixelInPlace) {
  const struct {
    bool horizontal, vertical;
    unsigned x, y;
  } cases[] = {{false, false, 1, 0}, {true, false, 5, 0}, {false, true, 1, 3}, {true, true, 5, 3}};
  for (const auto& c : cases) {
    Settings settings = test::DefaultSettings();
    settings.SetNumber(SettingId::FlipHorizontal, c.horizontal);
    settings.SetNumber(SettingId::FlipVertical, c.vertical);
    ImagePtr image = Adopt(FreeImage_Allocate(7, 4, 24));
    test::SetPixel(image.get(), 1, 0, {9, 99, 199});
    FlipImage(image.get(), settings);
    EXPECT_EQ(PixelAt(image.get(), c.x, c.y), (Rgb{9, 99, 199})) << c.horizontal << c.vertical;
  }
  FlipImage(nullptr, test::DefaultSettings());
}

TEST(GeometrySteps, NoImageInGivesNoImageOutAndAFailedCallGivesNoImage) {
  Settings settings = RotationSettings(90, 0);
  settings.SetNumber(SettingId::DoImageResize, 1);
  settings.SetNumber(SettingId::Width, 10);
  settings.SetNumber(SettingId::Height, 10);
  EXPECT_FALSE(RotateImage(nullptr, settings));
  EXPECT_FALSE(ResizeImage(nullptr, settings, 8, 6));
  // A bitmap without pixels makes the library calls fail.
  ASSERT_TRUE(test::HeaderOnly(8, 6, 24));
  ASSERT_FALSE(FreeImage_HasPixels(test::HeaderOnly(8, 6, 24).get()));
  EXPECT_FALSE(RotateImage(test::HeaderOnly(8, 6, 24), settings));
  settings.SetNumber(SettingId::RotationType, 1);
  EXPECT_FALSE(RotateImage(test::HeaderOnly(8, 6, 24), settings));
  EXPECT_FALSE(ResizeImage(test::HeaderOnly(8, 6, 24), settings, 8, 6));
}

}  // namespace
}  // namespace kestrel
