// Solid frames: band colours, seams, opacity, the 24-bit conversion, and the
// strip-wise drawing against the full-size frame layer.
#include <gtest/gtest.h>

#include <tuple>

#include "draw/frames.h"
#include "draw/layer.h"
#include "support/decoration_bitmaps.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::MakeFilled24;
using test::PixelAt;

constexpr Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kYellow{255, 255, 0, 255};
constexpr Rgba kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255}, kPaper{10, 20, 30, 255};

class FramesTest : public ::testing::Test {
 protected:
  void SetUp() override { test::PrepareTestState(state, lines); }
  Settings& settings() { return state.settings; }
  void Bands(int left, int right, int top, int bottom) {
    settings().SetNumber(SettingId::DoFrame, 1);
    settings().SetNumber(SettingId::FrSolidLeft, left);
    settings().SetNumber(SettingId::FrSolidRight, right);
    settings().SetNumber(SettingId::FrSolidTop, top);
    settings().SetNumber(SettingId::FrSolidBottom, bottom);
  }
  void Colours(const char* left, const char* right, const char* top, const char* bottom) {
    settings().SetText(SettingId::FrSolidLeftColor, left);
    settings().SetText(SettingId::FrSolidRightColor, right);
    settings().SetText(SettingId::FrSolidTopColor, top);
    settings().SetText(SettingId::FrSolidBottomColor, bottom);
  }
  ImagePtr Draw(ImagePtr image) {
    const unsigned w = FreeImage_GetWidth(image.get()), h = FreeImage_GetHeight(image.get());
    return DrawSolidFrames(std::move(image), settings(), w, h);
  }
  AppState state;
  std::vector<std::string> lines;
};

TEST(StraightAlphaBlend, FollowsTheSourceOverRule) {
  struct Case {
    Rgba target, source;
    int opacity;
    Rgba expected;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, {200, 100, 50, 0}, 255, {1, 2, 3, 4}},           // transparent source keeps the target
      {{1, 2, 3, 4}, {200, 100, 50, 255}, 1, {40, 21, 12, 4}},        // opacity 1: alpha 1 still draws
      {{9, 9, 9, 0}, {200, 100, 50, 200}, 128, {200, 100, 50, 100}},  // onto transparency: colour copied
      {{0, 0, 0, 255}, {255, 255, 255, 255}, 255, {255, 255, 255, 255}},
      // half over opaque black: alpha 255, colour 255*128*255 / (255*127 + 128*255)
      {{0, 0, 0, 255}, {255, 255, 255, 128}, 255, {128, 128, 128, 255}},
      // half over half: alpha (128*255 + 127*128) / 255 = 191
      {{0, 0, 255, 128}, {255, 0, 0, 128}, 255, {170, 0, 84, 191}},
  };
  for (const Case& c : cases) {
    Rgba pixel = c.target;
    BlendPixel(pixel, c.source, c.opacity);
    EXPECT_EQ(pixel, c.expected);
  }
}

// The in-place blend of a small bitmap equals FreeImage_Composite of a
// full-size transparent canvas holding that bitmap.
TEST(CompositeOver, EqualsFullSizeComposite) {
  const int W = 37, H = 23;
  for (auto [x, y, w, h] : {std::tuple{0, 0, 37, 23}, std::tuple{5, 7, 11, 3}, std::tuple{26, 20, 11, 3}}) {
    ImagePtr image = test::MakeNoise24(W, H, 1);
    ImagePtr noise = test::MakeNoise24(w * 4 / 3 + 1, h, 2);
    Layer layer;
    ASSERT_TRUE(MakeLayer(layer, w, h));
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        const BYTE* p = FreeImage_GetScanLine(noise.get(), j) + 4 * i;
        layer.At(i, j) = Rgba{p[0], p[1], p[2], (i + j) % 3 == 0 ? BYTE{0} : (i + j) % 3 == 1 ? BYTE{255} : p[3]};
      }
    }
    ImagePtr bitmap = LayerToBitmap(layer);
    ImagePtr canvas = Adopt(FreeImage_AllocateT(FIT_BITMAP, W, H, 32, 0, 0, 0));
    ASSERT_TRUE(FreeImage_Paste(canvas.get(), bitmap.get(), x, y, 256));
    ImagePtr expected = Adopt(FreeImage_Composite(canvas.get(), FALSE, nullptr, image.get()));
    ASSERT_TRUE(CompositeOver(image.get(), bitmap.get(), x, y));
    EXPECT_TRUE(test::SamePixels(image.get(), expected.get())) << x << "," << y;
  }
  ImagePtr image = MakeFilled24(10, 10, kPaper);
  Layer layer;
  ASSERT_TRUE(MakeLayer(layer, 4, 4));
  ImagePtr bitmap = LayerToBitmap(layer);
  EXPECT_FALSE(CompositeOver(image.get(), bitmap.get(), 7, 0));  // would stick out: nothing drawn
  EXPECT_FALSE(CompositeOver(image.get(), bitmap.get(), -1, 0));
}

TEST_F(FramesTest, LeftBandAloneCoversItsColumnsOnly) {
  Bands(10, 0, 0, 0);
  ImagePtr image = Draw(MakeFilled24(100, 50, kPaper));
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u);
  EXPECT_EQ(FreeImage_GetWidth(image.get()), 100u);
  EXPECT_EQ(FreeImage_GetHeight(image.get()), 50u);
  for (int y : {0, 25, 49}) {
    EXPECT_EQ(PixelAt(image.get(), 0, y), kBlack);
    EXPECT_EQ(PixelAt(image.get(), 9, y), kBlack);
    EXPECT_EQ(PixelAt(image.get(), 10, y), kPaper);
    EXPECT_EQ(PixelAt(image.get(), 99, y), kPaper);
  }
}

TEST_F(FramesTest, SwitchedOnWithoutSizeOnlyConvertsTo24Bits) {
  Bands(0, 0, 0, 0);
  ImagePtr grey = Adopt(FreeImage_Allocate(8, 6, 8));
  RGBQUAD* palette = FreeImage_GetPalette(grey.get());
  for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < 6; ++y) std::fill_n(FreeImage_GetScanLine(grey.get(), y), 8, BYTE(77));
  ImagePtr image = Draw(std::move(grey));
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u);
  EXPECT_EQ(PixelAt(image.get(), 3, 3), (Rgba{77, 77, 77, 255}));
}

TEST_F(FramesTest, CornerSquaresSplitAlongTheirDiagonals) {
  Bands(10, 10, 10, 10);
  Colours("FF0000", "00FF00", "0000FF", "FFFF00");  // left red, right green, top blue, bottom yellow
  ImagePtr image = Draw(MakeFilled24(100, 60, kPaper));
  ASSERT_TRUE(image);
  struct Probe {
    int x, y;
    Rgba expected;
  };
  const Probe probes[] = {
      {50, 5, kBlue},   {95, 30, kGreen}, {50, 55, kYellow}, {5, 30, kRed},   {50, 30, kPaper},
      {7, 2, kBlue},    {2, 7, kRed},     // top-left: upper-right half top, lower-left half left
      {92, 2, kBlue},   {97, 7, kGreen},  // top-right
      {97, 52, kGreen}, {92, 57, kYellow}, {2, 52, kRed}, {7, 57, kYellow},
      {10, 10, kPaper}, {89, 49, kPaper},
  };
  for (const Probe& p : probes) EXPECT_EQ(PixelAt(image.get(), p.x, p.y), p.expected) << p.x << "," << p.y;
  // On the seam the two band colours meet: an opaque mix of blue and red.
  const Rgba seam = PixelAt(image.get(), 4, 4);
  EXPECT_GT(seam.r, 0);
  EXPECT_GT(seam.b, 0);
  EXPECT_EQ(seam.g, 0);
}

TEST_F(FramesTest, OpacityBlendsTheWholeFrame) {
  struct Case {
    int opacity;
    Rgba expected;
  };
  // FreeImage's composite rule: (a * fg + (255 - a) * bg) / 256.
  for (const Case& c : {Case{128, {127, 127, 127, 255}}, Case{0, kBlack}, Case{255, kWhite}, Case{300, kWhite}}) {
    Bands(10, 10, 10, 10);
    Colours("FFFFFF", "FFFFFF", "FFFFFF", "FFFFFF");
    settings().SetNumber(SettingId::FrSolidOpacity, c.opacity);
    ImagePtr image = Draw(MakeFilled24(40, 30, kBlack));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image.get(), 20, 3), c.expected) << c.opacity;
    EXPECT_EQ(PixelAt(image.get(), 3, 3), c.expected) << c.opacity;  // inside a corner, away from the seam
    EXPECT_EQ(PixelAt(image.get(), 20, 15), kBlack);
  }
}

TEST_F(FramesTest, ColourTextOfAnotherLengthGivesBlack) {
  for (const char* text : {"FFF", "#FF0000"}) {
    Bands(0, 0, 5, 0);
    Colours("000000", "000000", text, "000000");
    ImagePtr image = Draw(MakeFilled24(20, 20, kWhite));
    EXPECT_EQ(PixelAt(image.get(), 10, 2), kBlack) << text;
  }
}

// The step draws only the edge strips; its result equals the full-size frame
// layer composited over the whole image.
TEST_F(FramesTest, StripDrawingEqualsTheFullSizeLayer) {
  struct Case {
    int left, right, top, bottom, width, height;
  };
  const Case cases[] = {{7, 13, 3, 11, 60, 40}, {30, 30, 25, 25, 60, 40}, {50, 40, 3, 30, 60, 40}, {-5, 8, 0, 6, 31, 17}};
  for (const Case& c : cases) {
    Bands(c.left, c.right, c.top, c.bottom);
    Colours("FF0000", "00FF00", "0000FF", "FFFF00");
    settings().SetNumber(SettingId::FrSolidOpacity, 200);
    ImagePtr image = test::MakeNoise24(c.width, c.height, 3);
    const Layer full = DrawFrameWindow(FrameBandsFromSettings(settings()), c.width, c.height, 0, 0, c.width, c.height);
    ImagePtr frame = LayerToBitmap(full);
    ImagePtr expected = Adopt(FreeImage_Composite(frame.get(), FALSE, nullptr, image.get()));
    ImagePtr drawn = Draw(std::move(image));
    ASSERT_TRUE(drawn);
    EXPECT_TRUE(test::SamePixels(drawn.get(), expected.get())) << c.left << "," << c.right << "," << c.top;
    // Slices of rows (how wide bands are drawn) match the full layer, for the
    // whole width and for the side strips. Cairo clips a polygon to the
    // surface exactly at rows, not across diagonal edges, so windows are
    // only ever cut by rows and along vertical band edges.
    const FrameBands bands = FrameBandsFromSettings(settings());
    const int l = std::clamp(c.left, 0, c.width), r = std::clamp(c.right, 0, c.width - l);
    const int t = std::clamp(c.top, 0, c.height), b = std::clamp(c.bottom, 0, c.height - t);
    const std::tuple<int, int, int, int> strips[] = {
        {0, c.width, 0, c.height}, {0, l, t, c.height - b}, {c.width - r, r, t, c.height - b}};
    for (auto [x0, w, top, end] : strips) {
      for (int y0 = top; y0 < end && w > 0; y0 += 3) {
        const int h = std::min(3, end - y0);
        const Layer window = DrawFrameWindow(bands, c.width, c.height, x0, y0, w, h);
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < w; ++x) ASSERT_EQ(window.At(x, y), full.At(x0 + x, y0 + y)) << x0 + x << "," << y0 + y;
        }
      }
    }
  }
}

TEST_F(FramesTest, NoImageStaysNoImage) {
  Bands(10, 10, 10, 10);
  EXPECT_FALSE(DrawSolidFrames(nullptr, settings(), 10, 10));
}

}  // namespace
}  // namespace kestrel
