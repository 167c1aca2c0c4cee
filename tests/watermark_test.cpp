// Watermarks: placement at every anchor, fitting, the text box geometry with
// its line positions, picture layers pixel for pixel, and the 24-bit rule.
#include <gtest/gtest.h>

#include "engine/steps/drawing.h"

#include <tuple>

#include "draw/image_layer.h"
#include "draw/layer.h"
#include "draw/text_layer.h"
#include "draw/watermark.h"
#include "draw/watermark_place.h"
#include "engine/confine/picture_load.h"
#include "support/decoration_bitmaps.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::MakeFilled24;
using test::CloneImage;
using test::PixelAt;
using test::SetPixel;

constexpr Rgba kPaper{10, 20, 30, 255}, kRed{255, 0, 0, 255}, kWhite{255, 255, 255, 255};

class WatermarkTest : public ::testing::Test {
 protected:
  void SetUp() override { test::PrepareTestState(state, lines); }
  Settings& settings() { return state.settings; }
  // A text watermark drawn as a solid red box: opaque background, invisible text.
  void RedTextBox(const std::string& text) {
    settings().SetNumber(SettingId::DoWatermark, 1);
    settings().SetText(SettingId::WmText, text);
    settings().SetText(SettingId::WmBackColor, "FF0000");
    settings().SetNumber(SettingId::WmBackOpacity, 255);
    settings().SetNumber(SettingId::WmTextOpacity, 0);
    state.watermarkFont = OpenWatermarkFont(settings().Text(SettingId::WmFont), settings().Int(SettingId::WmFontSize), {});
    ASSERT_TRUE(state.watermarkFont);
  }
  ImagePtr Draw(ImagePtr image) {
    const unsigned w = FreeImage_GetWidth(image.get()), h = FreeImage_GetHeight(image.get());
    ImagePtr picture = PictureOfSettings();
    return DrawWatermark(std::move(image), state, picture.get(), w, h);
  }
  // The picture watermark's picture, loaded as the watermark step loads it.
  ImagePtr PictureOfSettings() {
    if (settings().Int(SettingId::DoWatermark) != 2) return nullptr;
    return LoadPictureSandboxed(settings().Text(SettingId::WmImage)).image;
  }
  AppState state;
  std::vector<std::string> lines;
};

struct Box {
  int x = -1, y = -1, w = 0, h = 0;
  friend bool operator==(const Box&, const Box&) = default;
};
std::ostream& operator<<(std::ostream& os, const Box& b) {
  return os << b.x << "," << b.y << " " << b.w << "x" << b.h;
}

// The bounding box of the pixels that differ from `paper`.
Box ChangedBox(FIBITMAP* image, Rgba paper) {
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  for (int y = 0; y < int(FreeImage_GetHeight(image)); ++y) {
    for (int x = 0; x < int(FreeImage_GetWidth(image)); ++x) {
      if (PixelAt(image, x, y) == paper) continue;
      x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
  }
  if (x1 < 0) return Box{};
  return Box{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

TEST(PlaceWatermark, NineAnchorsAndTheFrameBoundary) {
  const WatermarkArea whole{200, 100, 0, 0, 7, 5};
  const WatermarkArea inFrame{160, 60, 20, 20, 7, 5};  // W 200, H 100, every band 20
  const int w = 31, h = 11;
  const std::tuple<int, long long, long long> table[] = {
      {0, 7, 5},  {1, 84, 5},  {2, 162, 5},  {3, 7, 44}, {4, 84, 44},
      {5, 162, 44}, {6, 7, 84}, {7, 84, 84}, {8, 162, 84}, {9, 0, 0},
  };
  for (const auto& [anchor, x, y] : table) {
    const WatermarkPoint p = PlaceWatermark(whole, anchor, w, h);
    EXPECT_EQ(p.x, x) << anchor;
    EXPECT_EQ(p.y, y) << anchor;
  }
  const WatermarkPoint corner = PlaceWatermark(inFrame, 8, w, h);
  EXPECT_EQ(corner.x, 20 + 160 - w - 7);
  EXPECT_EQ(corner.y, 20 + 60 - h - 5);
  EXPECT_EQ(PlaceWatermark(inFrame, 12, w, h).x, 20);
}

TEST_F(WatermarkTest, FrameBoundaryNeedsFramesSwitchedOn) {
  settings().SetNumber(SettingId::WmTextBoundary, 1);
  settings().SetNumber(SettingId::FrSolidLeft, 20);
  settings().SetNumber(SettingId::FrSolidTop, 30);
  const WatermarkPlacement placement = WatermarkPlacementFor(settings(), 1);
  EXPECT_EQ(WatermarkAreaFor(settings(), placement, 200, 100).width, 200);
  settings().SetNumber(SettingId::DoFrame, 1);
  const WatermarkArea area = WatermarkAreaFor(settings(), placement, 200, 100);
  EXPECT_EQ(std::tuple(area.width, area.height, area.left, area.top), std::tuple(180LL, 70LL, 20LL, 30LL));
}

// Cutting always counts from the left and top offsets, whatever the anchor.
TEST(FitWatermark, CutsToTheAreaLessTheOffsets) {
  struct Case {
    int w, h, offsetX, offsetY, fitW, fitH;  // fitW 0: nothing fits
  };
  const Case cases[] = {{50, 20, 10, 10, 50, 20}, {120, 20, 10, 10, 90, 20}, {50, 95, 0, 10, 50, 90},
                        {50, 20, 100, 0, 0, 0},   {50, 20, 50, 50, 50, 20}};
  for (const Case& c : cases) {
    ImagePtr bitmap = Adopt(FreeImage_Allocate(c.w, c.h, 32));
    SetPixel(bitmap.get(), 0, 0, Rgba{1, 2, 3, 4});
    const WatermarkArea area{100, 100, 0, 0, c.offsetX, c.offsetY};
    ImagePtr fitted = FitWatermark(std::move(bitmap), area);
    if (c.fitW == 0) {
      EXPECT_FALSE(fitted);
      continue;
    }
    ASSERT_TRUE(fitted);
    EXPECT_EQ(FreeImage_GetWidth(fitted.get()), unsigned(c.fitW));
    EXPECT_EQ(FreeImage_GetHeight(fitted.get()), unsigned(c.fitH));
    EXPECT_EQ(PixelAt(fitted.get(), 0, 0), (Rgba{1, 2, 3, 4}));  // the top-left part is kept
  }
}

TEST_F(WatermarkTest, DefaultTextBoxSitsTenPixelsFromTheBottomRight) {
  RedTextBox("Kestrel 2024");
  const TextLayerPlan plan = PlanTextLayer(nullptr, *state.watermarkFont, settings(), "");
  EXPECT_EQ(plan.width, 10);  // without a renderer: 10 x 10 plus padding
  ImagePtr layer = MakeTextLayer(state, 640, 480);
  ASSERT_TRUE(layer);
  const int w = int(FreeImage_GetWidth(layer.get())), h = int(FreeImage_GetHeight(layer.get()));
  EXPECT_GT(w, 40);
  EXPECT_GT(h, 10);
  ImagePtr image = Draw(MakeFilled24(640, 480, kPaper));
  EXPECT_EQ(ChangedBox(image.get(), kPaper), (Box{640 - w - 10, 480 - h - 10, w, h}));
  EXPECT_EQ(PixelAt(image.get(), 640 - 11, 480 - 11), kRed);
}

TEST_F(WatermarkTest, EveryAnchorPlacesTheBox) {
  RedTextBox("Anchor");
  settings().SetNumber(SettingId::WmTextXOffset, 7);
  settings().SetNumber(SettingId::WmTextYOffset, 5);
  ImagePtr layer = MakeTextLayer(state, 300, 200);
  ASSERT_TRUE(layer);
  const int w = int(FreeImage_GetWidth(layer.get())), h = int(FreeImage_GetHeight(layer.get()));
  const int xs[] = {7, (300 - w) / 2, 300 - w - 7}, ys[] = {5, (200 - h) / 2, 200 - h - 5};
  for (int anchor = 0; anchor < 9; ++anchor) {
    settings().SetNumber(SettingId::WmTextPosition, anchor);
    ImagePtr image = Draw(MakeFilled24(300, 200, kPaper));
    EXPECT_EQ(ChangedBox(image.get(), kPaper), (Box{xs[anchor % 3], ys[anchor / 3], w, h})) << anchor;
  }
}

TEST_F(WatermarkTest, RotationUsesTheRotatedSize) {
  RedTextBox("Turned");
  ImagePtr layer = MakeTextLayer(state, 300, 200);
  const int w = int(FreeImage_GetWidth(layer.get())), h = int(FreeImage_GetHeight(layer.get()));
  for (auto [angle, bw, bh] : {std::tuple{90, h, w}, std::tuple{-90, w, h}, std::tuple{360, w, h}}) {
    settings().SetNumber(SettingId::WmTextRotation, angle);
    ImagePtr image = Draw(MakeFilled24(300, 200, kPaper));
    EXPECT_EQ(ChangedBox(image.get(), kPaper), (Box{300 - bw - 10, 200 - bh - 10, bw, bh})) << angle;
  }
}

TEST_F(WatermarkTest, WatermarkThatCannotFitOnlyConvertsTo24Bits) {
  RedTextBox("Too wide");
  settings().SetNumber(SettingId::WmTextXOffset, 10);
  ImagePtr grey = Adopt(FreeImage_Allocate(8, 40, 8));
  RGBQUAD* palette = FreeImage_GetPalette(grey.get());
  for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < 40; ++y) std::fill_n(FreeImage_GetScanLine(grey.get(), y), 8, BYTE(99));
  ImagePtr image = Draw(std::move(grey));
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u);
  EXPECT_EQ(ChangedBox(image.get(), Rgba{99, 99, 99, 255}), Box{});
}

TEST_F(WatermarkTest, WiderThanTheImageIsCutFromTheLeftOffset) {
  RedTextBox("A rather long watermark text");
  ImagePtr layer = MakeTextLayer(state, 60, 100);
  const int h = int(FreeImage_GetHeight(layer.get()));
  settings().SetNumber(SettingId::WmTextPosition, 0);
  EXPECT_EQ(ChangedBox(Draw(MakeFilled24(60, 100, kPaper)).get(), kPaper), (Box{10, 10, 50, h}));
  settings().SetNumber(SettingId::WmTextPosition, 2);
  EXPECT_EQ(ChangedBox(Draw(MakeFilled24(60, 100, kPaper)).get(), kPaper), (Box{0, 10, 50, h}));
}

TEST_F(WatermarkTest, MakeTextLayerShowsThisFilesValuesToTheTokens) {
  RedTextBox("%width%");
  state.run.automaticDepth = true;
  state.run.conversion = "bmp";
  state.run.loadedDepth = 12;
  MakeTextLayer(state, 123, 45);
  EXPECT_EQ(state.run.imageWidth, 123);
  EXPECT_EQ(state.run.imageHeight, 45);
  EXPECT_EQ(state.run.outputDepth, 16);
}

TEST(WatermarkLines, SplitAtLineMarkersInAnyCase) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitWatermarkLines("Line one%EOL%Line two"), (Lines{"Line one", "Line two"}));
  EXPECT_EQ(SplitWatermarkLines("a%eol%%Eol%b"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitWatermarkLines("no marker %eo"), (Lines{"no marker %eo"}));
  EXPECT_EQ(SplitWatermarkLines("%eol%"), (Lines{"", ""}));
}

// Box size, line steps and x positions of several lines, from the measured
// widths, for each alignment and both drawing paths; the plain drawing puts
// each line's cell exactly there.
TEST_F(WatermarkTest, MultiLineBoxGeometryAndAlignment) {
  RedTextBox("");
  std::optional<TextRenderer> renderer = OpenTextRenderer(*state.watermarkFont);
  ASSERT_TRUE(renderer);
  const std::string text = "Wide first line here%eol%%eol%mid";
  for (int antialias : {0, 1}) {
    for (auto [alignment, padding, leading] : {std::tuple{1, 0, 0}, std::tuple{2, 5, 3}, std::tuple{0, 4, -2}}) {
      settings().SetNumber(SettingId::WmTextAntialiasing, antialias);
      settings().SetNumber(SettingId::WmTextAlignment, alignment);
      settings().SetNumber(SettingId::WmTextPadding, padding);
      settings().SetNumber(SettingId::WmFontLeading, leading);
      const TextLayerPlan plan = PlanTextLayer(&*renderer, *state.watermarkFont, settings(), text);
      ASSERT_EQ(plan.lines.size(), 3u);
      int wide = 10, lineH = 10;
      for (const auto& line : plan.lines) wide = std::max(wide, line.width), lineH = std::max(lineH, line.height);
      EXPECT_EQ(plan.width, wide + 2 * padding);
      EXPECT_EQ(plan.height, lineH + 2 * (lineH + leading) + 2 * padding);
      EXPECT_EQ(plan.lines[2].y, padding + 2 * (lineH + leading));
      const TextLinePlan& mid = plan.lines[2];
      const int midWidth = mid.width;  // the plain path aligns by the measured width
      if (antialias == 0) {
        const int expected = alignment == 0   ? padding
                             : alignment == 1 ? int(std::lround((float(plan.width) - midWidth) / 2.0f))
                                              : int(plan.width) - midWidth - padding;
        EXPECT_EQ(mid.x, expected) << alignment;
        EXPECT_EQ(plan.lines[0].x, alignment == 1 ? int(std::lround(float(2 * padding) / 2.0f)) : padding);
      } else {
        EXPECT_NEAR(mid.x, alignment == 0 ? padding : alignment == 1 ? (plan.width - midWidth) / 2.0
                                                                     : plan.width - midWidth - padding, 2.0);
      }
    }
  }
  // Plain path, opaque text and box: outside the line cells every pixel is the box colour.
  settings().SetNumber(SettingId::WmTextAntialiasing, 0);
  settings().SetNumber(SettingId::WmTextAlignment, 2);
  settings().SetNumber(SettingId::WmTextOpacity, 255);
  settings().SetNumber(SettingId::WmFontLeading, 3);
  const TextLayerPlan plan = PlanTextLayer(&*renderer, *state.watermarkFont, settings(), text);
  ImagePtr layer = DrawTextLayer(&*renderer, *state.watermarkFont, settings(), plan);
  ASSERT_TRUE(layer);
  int inked = 0;
  for (int y = 0; y < int(plan.height); ++y) {
    for (int x = 0; x < int(plan.width); ++x) {
      bool inCell = false;
      for (const auto& line : plan.lines) {
        inCell = inCell || (x >= line.x && x < line.x + line.width && y >= line.y && y < line.y + line.height);
      }
      const Rgba p = PixelAt(layer.get(), x, y);
      if (!inCell) {
        EXPECT_EQ(p, kRed) << x << "," << y;
      }
      if (p == kWhite) ++inked;
    }
  }
  EXPECT_GT(inked, 20);
}

TEST_F(WatermarkTest, EmptyTextWithoutPaddingGivesNoWatermark) {
  RedTextBox("");
  ImagePtr image = Draw(MakeFilled24(50, 50, kPaper));
  EXPECT_EQ(ChangedBox(image.get(), kPaper), Box{});
}

// A 3 x 2 picture: opaque red, alpha 200 green, transparent blue / white,
// alpha 100 grey, opaque black.
ImagePtr MakePicture32() {
  ImagePtr picture = Adopt(FreeImage_Allocate(3, 2, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
  const Rgba pixels[2][3] = {{{255, 0, 0, 255}, {0, 255, 0, 200}, {0, 0, 255, 0}},
                             {{255, 255, 255, 255}, {90, 90, 90, 100}, {0, 0, 0, 255}}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) SetPixel(picture.get(), x, y, pixels[y][x]);
  }
  return picture;
}

TEST_F(WatermarkTest, PictureLayerOpacityAndGrey) {
  test::TempDir dir;
  const std::string png = dir.File("mark.png");
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, MakePicture32().get(), png.c_str(), 0));
  settings().SetNumber(SettingId::DoWatermark, 2);
  settings().SetText(SettingId::WmImage, png);
  struct Case {
    int opacity;
    bool grey;
    Rgba expected[2][3];
  };
  const Case cases[] = {
      {255, false, {{{255, 0, 0, 255}, {0, 255, 0, 200}, {0, 0, 255, 0}}, {{255, 255, 255, 255}, {90, 90, 90, 100}, {0, 0, 0, 255}}}},
      {128, false, {{{255, 0, 0, 128}, {0, 255, 0, 100}, {0, 0, 255, 0}}, {{255, 255, 255, 128}, {90, 90, 90, 50}, {0, 0, 0, 128}}}},
      {255, true, {{{76, 76, 76, 255}, {149, 149, 149, 200}, {28, 28, 28, 0}}, {{255, 255, 255, 255}, {90, 90, 90, 100}, {0, 0, 0, 255}}}},
  };
  for (const Case& c : cases) {
    settings().SetNumber(SettingId::WmImageOpacity, c.opacity);
    settings().SetNumber(SettingId::WmImageGreyscale, c.grey);
    ImagePtr layer = MakeImageLayer(PictureOfSettings().get(), settings());
    ASSERT_TRUE(layer);
    ASSERT_EQ(FreeImage_GetBPP(layer.get()), 32u);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(layer.get(), x, y), c.expected[y][x]) << c.opacity << " " << x << "," << y;
    }
    // Over the image at the top-left: transparent pixels leave it, the rest
    // blend by FreeImage's composite rule, nothing outside the picture moves.
    settings().SetNumber(SettingId::WmImagePosition, 0);
    settings().SetNumber(SettingId::WmImageXOffset, 4);
    settings().SetNumber(SettingId::WmImageYOffset, 3);
    ImagePtr image = Draw(MakeFilled24(12, 9, kPaper));
    EXPECT_EQ(PixelAt(image.get(), 6, 3), kPaper);
    const Rgba e = c.expected[0][1];
    const auto mix = [&](int f, int b) { return BYTE((e.a * f + (255 - e.a) * b) / 256); };
    EXPECT_EQ(PixelAt(image.get(), 5, 3), (Rgba{mix(e.r, kPaper.r), mix(e.g, kPaper.g), mix(e.b, kPaper.b), 255}));
    const Rgba opaque = c.expected[0][0];
    if (opaque.a == 255) {
      EXPECT_EQ(PixelAt(image.get(), 4, 3), (Rgba{opaque.r, opaque.g, opaque.b, 255}));
    }
    EXPECT_EQ(ChangedBox(image.get(), kPaper), (Box{4, 3, 3, 2}));
  }
}

TEST_F(WatermarkTest, PictureKinds) {
  test::TempDir dir;
  ImagePtr picture = MakeFilled24(6, 4, Rgba{200, 100, 0, 255});
  struct Case {
    FREE_IMAGE_FORMAT format;
    const char* name;
    bool drawn;
  };
  const Case cases[] = {{FIF_JPEG, "m.jpg", true}, {FIF_BMP, "m.bmp", true}, {FIF_PNG, "m.png", true},
                        {FIF_TIFF, "m.tif", false}, {FIF_GIF, "m.gif", false}};
  for (const Case& c : cases) {
    ImagePtr saved = c.format == FIF_GIF ? Adopt(FreeImage_ColorQuantize(picture.get(), FIQ_WUQUANT))
                                         : CloneImage(picture.get());
    ASSERT_TRUE(FreeImage_Save(c.format, saved.get(), dir.File(c.name).c_str(), 0)) << c.name;
    settings().SetNumber(SettingId::DoWatermark, 2);
    settings().SetText(SettingId::WmImage, dir.File(c.name));
    settings().SetNumber(SettingId::WmImageOpacity, 128);
    ImagePtr layer = MakeImageLayer(PictureOfSettings().get(), settings());
    EXPECT_EQ(bool(layer), c.drawn) << c.name;
    ImagePtr grey = Adopt(FreeImage_ConvertTo8Bits(MakeFilled24(30, 20, kWhite).get()));
    ImagePtr image = Draw(std::move(grey));
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u);
    // Opacity 128 without alpha: the whole rectangle shows half-transparent.
    EXPECT_EQ(ChangedBox(image.get(), kWhite), c.drawn ? (Box{30 - 6 - 10, 20 - 4 - 10, 6, 4}) : Box{}) << c.name;
  }
}

TEST_F(WatermarkTest, FramesAndWatermarkThroughTheProgram) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "in.psd", "rgb8", 120, 80);
  const auto run = test::RunKestrel({"-q", "-i", input, "--fr-solid-left=10", "--fr-solid-left-color=FF0000",
                                     "--wm-text=Hello", "--wm-back-opacity=255", "--wm-back-color=00FF00",
                                     "--wm-text-position=topleft", "--wm-text-x-offset=20"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  ImagePtr bmp = Adopt(FreeImage_Load(FIF_BMP, dir.File("in.bmp").c_str(), 0));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(PixelAt(bmp.get(), 0, 40), kRed);
  EXPECT_EQ(PixelAt(bmp.get(), 9, 79), kRed);
  EXPECT_EQ(PixelAt(bmp.get(), 20, 10), (Rgba{0, 255, 0, 255}));
  EXPECT_NE(PixelAt(bmp.get(), 19, 10), (Rgba{0, 255, 0, 255}));
}

}  // namespace
}  // namespace kestrel
