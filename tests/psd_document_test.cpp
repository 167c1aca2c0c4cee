// What the merged-image decoder makes of small generated files: 16-bit
// scaling, float shown as at exposure 0, the white matte taken off, only a
// channel marked as transparency becoming alpha, Lab as D50, an embedded
// profile honoured, and damage refused without reading out of bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/colour/display_samples.h"
#include "engine/psd/document.h"
#include "engine/decode/merged_image.h"
#include "tests/support/test_support.h"

// The fixtures are written with designated initializers that leave the rest at its defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Big(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void Resource(Bytes& out, std::uint16_t id, const Bytes& data) {
  out.insert(out.end(), {'8', 'B', 'I', 'M'});
  Big(out, id, 2);
  Big(out, 0, 2);  // empty name, padded
  Big(out, data.size(), 4);
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2 == 1) out.push_back(0);
}

struct Fixture {
  int mode = kPsdModeRgb;
  int depth = 8;
  std::uint32_t width = 2, height = 1;
  // Samples per channel, row by row; floats for depth 32 are given as their bits.
  std::vector<std::vector<std::uint32_t>> channels;
  Bytes resources;
  bool negativeLayerCount = false;
  bool runLength = false;
};

Bytes Make(const Fixture& f) {
  Bytes out = {'8', 'B', 'P', 'S'};
  Big(out, 1, 2);
  Big(out, 0, 6);
  Big(out, f.channels.size(), 2);
  Big(out, f.height, 4);
  Big(out, f.width, 4);
  Big(out, f.depth, 2);
  Big(out, f.mode, 2);
  Big(out, 0, 4);  // colour mode data
  Big(out, f.resources.size(), 4);
  out.insert(out.end(), f.resources.begin(), f.resources.end());
  if (f.negativeLayerCount) {
    Big(out, 4 + 2 + 4, 4);  // layer section: info of 2 bytes (+ pad), empty mask info
    Big(out, 2, 4);
    Big(out, 0xFFFF, 2);  // -1: the merged image's first extra channel is transparency
    Big(out, 0, 4);
  } else {
    Big(out, 0, 4);
  }
  Big(out, f.runLength ? 1 : 0, 2);
  const int bytes = f.depth / 8;
  std::vector<Bytes> rows;
  for (const auto& channel : f.channels) {
    for (std::uint32_t y = 0; y < f.height; ++y) {
      Bytes row;
      for (std::uint32_t x = 0; x < f.width; ++x) Big(row, channel[y * f.width + x], bytes);
      rows.push_back(row);
    }
  }
  if (f.runLength) {
    for (const auto& row : rows) Big(out, row.size() + 1, 2);  // one literal packet per row
    for (const auto& row : rows) {
      out.push_back(static_cast<std::uint8_t>(row.size() - 1));
      out.insert(out.end(), row.begin(), row.end());
    }
  } else {
    for (const auto& row : rows) out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

struct Decoded {
  PsdDocument contents;
  ImagePtr image;
};

Decoded Decode(const Bytes& file) {
  const PsdHeaderCheck check = CheckPsdHeader(file);
  EXPECT_TRUE(check.ok) << check.problem;
  Decoded d;
  d.contents = ReadPsdDocument(file, check.header);
  d.image = DecodeMergedImage(d.contents);
  return d;
}

// R, G, B, A of pixel x of the top row.
std::array<int, 4> Pixel(FIBITMAP* image, unsigned x) {
  const unsigned bpp = FreeImage_GetBPP(image);
  const BYTE* line = FreeImage_GetScanLine(image, static_cast<int>(FreeImage_GetHeight(image) - 1));
  if (bpp == 8) return {line[x], line[x], line[x], 255};
  const BYTE* p = line + x * (bpp / 8);
  return {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], bpp == 32 ? p[FI_RGBA_ALPHA] : 255};
}

std::uint32_t FloatBits(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return bits;
}

TEST(MergedImage, SixteenBitSamplesAreScaledInEveryMode) {
  // round(v * 255 / 65535): 1000 -> 4 (3.89), 0x8080 -> 128, 65535 -> 255; never stretched to the brightest.
  for (bool runLength : {false, true}) {
    Fixture grey{.mode = kPsdModeGreyscale, .depth = 16, .width = 3, .channels = {{1000, 0x8080, 30000}}};
    grey.runLength = runLength;
    Decoded d = Decode(Make(grey));
    ASSERT_TRUE(d.image);
    EXPECT_EQ(FreeImage_GetBPP(d.image.get()), 8u);
    EXPECT_EQ(Pixel(d.image.get(), 0)[0], 4);
    EXPECT_EQ(Pixel(d.image.get(), 1)[0], 128);
    EXPECT_EQ(Pixel(d.image.get(), 2)[0], 117);  // 116.7, not stretched to 255
  }
  Fixture rgb{.depth = 16, .channels = {{65535, 0}, {1000, 0x8080}, {0, 65535}}};
  Decoded d = Decode(Make(rgb));
  ASSERT_TRUE(d.image);
  EXPECT_EQ(FreeImage_GetBPP(d.image.get()), 24u);
  EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{255, 4, 0, 255}));
  EXPECT_EQ(Pixel(d.image.get(), 1), (std::array<int, 4>{0, 128, 255, 255}));
}

TEST(MergedImage, FloatSamplesAreShownThroughTheSrgbCurve) {
  // Linear 0.5 is sRGB 0.7354 (188); 0.0018 is on the linear toe (6); above 1 and below 0 clip.
  Fixture rgb{.depth = 32, .width = 2,
              .channels = {{FloatBits(0.5f), FloatBits(2.0f)}, {FloatBits(0.0018f), FloatBits(-1.0f)},
                           {FloatBits(1.0f), FloatBits(0.0f)}}};
  for (bool runLength : {false, true}) {
    rgb.runLength = runLength;
    Decoded d = Decode(Make(rgb));
    ASSERT_TRUE(d.image);
    EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{188, 6, 255, 255}));
    EXPECT_EQ(Pixel(d.image.get(), 1), (std::array<int, 4>{255, 0, 0, 255}));
  }
}

TEST(MergedImage, TransparencyLosesItsWhiteMatteAndOnlyMarkedChannelsAreAlpha) {
  // Red at coverage 128 was stored blended over white: (255, 127, 127).
  const std::vector<std::vector<std::uint32_t>> planes = {{255, 60}, {127, 70}, {127, 80}, {128, 200}};
  Fixture marked{.channels = planes, .negativeLayerCount = true};
  Decoded d = Decode(Make(marked));
  ASSERT_TRUE(d.image);
  EXPECT_EQ(d.contents.transparencyChannel, 3);
  EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{255, 0, 0, 128}));

  // A saved selection (alpha identifier not 0) is no transparency: the picture stays opaque and unchanged.
  Fixture selection{.channels = planes};
  Resource(selection.resources, kPsdResourceAlphaIdentifiers, Bytes{0, 0, 0, 5});
  d = Decode(Make(selection));
  ASSERT_TRUE(d.image);
  EXPECT_EQ(d.contents.transparencyChannel, -1);
  EXPECT_EQ(FreeImage_GetBPP(d.image.get()), 24u);
  EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{255, 127, 127, 255}));

  // Identifier 0 marks transparency; 16-bit and grey + alpha keep it too.
  Fixture grey{.mode = kPsdModeGreyscale, .depth = 16, .channels = {{0x7F7F, 0}, {0x8080, 0xFFFF}}};
  Resource(grey.resources, kPsdResourceAlphaIdentifiers, Bytes{0, 0, 0, 0});
  d = Decode(Make(grey));
  ASSERT_TRUE(d.image);
  EXPECT_EQ(FreeImage_GetBPP(d.image.get()), 32u);
  EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{0, 0, 0, 128}));  // white matte over black at half
  EXPECT_EQ(Pixel(d.image.get(), 1), (std::array<int, 4>{0, 0, 0, 255}));
}

TEST(MergedImage, StraightColourKeepsItsColour) {
  // Written by programs that store straight colour: a sample darker than
  // 255 - alpha, or a clear pixel that is not white, cannot carry a white matte.
  const struct {
    const char* name;
    std::vector<std::vector<std::uint32_t>> planes;
  } cases[] = {
      {"dark under cover", {{200, 255}, {0, 255}, {0, 255}, {128, 255}}},
      {"clear but coloured", {{255, 10}, {127, 20}, {127, 30}, {128, 0}}},
  };
  for (const auto& c : cases) {
    Fixture straight{.channels = c.planes, .negativeLayerCount = true};
    Decoded d = Decode(Make(straight));
    ASSERT_TRUE(d.image) << c.name;
    EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{int(c.planes[0][0]), int(c.planes[1][0]),
                                                           int(c.planes[2][0]), 128}))
        << c.name;
  }
  // The same rule for samples that go through the colour conversion: 16-bit grey.
  Fixture grey{.mode = kPsdModeGreyscale, .depth = 16, .channels = {{0x2020, 0x1010}, {0x8080, 0}}};
  Resource(grey.resources, kPsdResourceAlphaIdentifiers, Bytes{0, 0, 0, 0});
  Decoded d = Decode(Make(grey));
  ASSERT_TRUE(d.image);
  EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{32, 32, 32, 128}));
  EXPECT_EQ(Pixel(d.image.get(), 1), (std::array<int, 4>{16, 16, 16, 0}));
}

TEST(MergedImage, FiftySevenChannelsAsPhotoshopWritesThem) {
  // RGB, its transparency (identifier 0) and 53 saved selections: 57 channels.
  Fixture many{.channels = {{255, 10}, {127, 20}, {0, 30}, {255, 255}}};
  for (int i = 0; i < 53; ++i) many.channels.push_back({std::uint32_t(i), 0});
  Bytes ids = {0, 0, 0, 0};
  for (int i = 0; i < 53; ++i) ids.insert(ids.end(), {0, 0, 0, static_cast<std::uint8_t>(i + 1)});
  Resource(many.resources, kPsdResourceAlphaIdentifiers, ids);
  for (bool runLength : {false, true}) {
    many.runLength = runLength;
    Decoded d = Decode(Make(many));
    ASSERT_TRUE(d.image) << runLength;
    EXPECT_EQ(d.contents.transparencyChannel, 3);
    EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{255, 127, 0, 255}));
    EXPECT_EQ(Pixel(d.image.get(), 1), (std::array<int, 4>{10, 20, 30, 255}));
  }
}

TEST(MergedImage, LabIsReadAsD50) {
  // Photoshop's white (L 100, a = b = 0) is sRGB white; L 50 neutral is sRGB 119 grey, untinted.
  Fixture lab{.mode = kPsdModeLab, .channels = {{255, 128}, {128, 128}, {128, 128}}};
  Decoded d = Decode(Make(lab));
  ASSERT_TRUE(d.image);
  const auto white = Pixel(d.image.get(), 0);
  const auto grey = Pixel(d.image.get(), 1);
  for (int c = 0; c < 3; ++c) {
    EXPECT_GE(white[c], 254);
    EXPECT_NEAR(grey[c], 119, 1);
  }
}

TEST(MergedImage, AnEmbeddedCmykProfileIsHonoured) {
  std::ifstream in("/usr/share/color/icc/ghostscript/default_cmyk.icc", std::ios::binary);
  if (!in) KESTREL_CANNOT_RUN("no CMYK profile on this machine (Debian libgs-common)");
  const Bytes icc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Stored inverted: 255 is no ink. Paper, full black ink, and 50% cyan.
  Fixture cmyk{.mode = kPsdModeCmyk, .width = 3, .channels = {{255, 255, 128}, {255, 255, 255}, {255, 255, 255},
                                                             {255, 0, 255}}};
  const Decoded plain = Decode(Make(cmyk));
  Resource(cmyk.resources, kPsdResourceIccProfile, icc);
  const Decoded profiled = Decode(Make(cmyk));
  ASSERT_TRUE(plain.image && profiled.image);
  // Relative colorimetric maps the paper to white; black point compensation maps full black ink to black.
  EXPECT_EQ(Pixel(profiled.image.get(), 0), (std::array<int, 4>{255, 255, 255, 255}));
  for (int c = 0; c < 3; ++c) EXPECT_LE(Pixel(profiled.image.get(), 1)[c], 40);
  // Half cyan through the profile is not the plain ink multiplication (128, 255, 255).
  EXPECT_NE(Pixel(profiled.image.get(), 2), Pixel(plain.image.get(), 2));
  EXPECT_EQ(Pixel(plain.image.get(), 2), (std::array<int, 4>{128, 255, 255, 255}));
  // Without the profile black ink darkens every channel by its share: full black is black.
  EXPECT_EQ(Pixel(plain.image.get(), 1), (std::array<int, 4>{0, 0, 0, 255}));
}

// CMYK without a profile: each ink multiplied out, black darkening the light
// the other inks leave, v * k / 255 rounded (stored inverted, 255 no ink).
TEST(MergedImage, CmykWithoutAProfileMultipliesTheInksOut) {
  Fixture cmyk{.mode = kPsdModeCmyk, .width = 3, .channels = {{255, 128, 40}, {255, 255, 200}, {255, 255, 90},
                                                             {128, 128, 200}}};
  const Decoded d = Decode(Make(cmyk));
  ASSERT_TRUE(d.image);
  EXPECT_EQ(Pixel(d.image.get(), 0), (std::array<int, 4>{128, 128, 128, 255}));  // half black: 255 * 128 / 255
  EXPECT_EQ(Pixel(d.image.get(), 1), (std::array<int, 4>{64, 128, 128, 255}));   // 128 * 128 / 255 = 64.25
  EXPECT_EQ(Pixel(d.image.get(), 2), (std::array<int, 4>{31, 157, 71, 255}));    // 40, 200, 90 at 200 / 255
}

// The colour-managed conversion against LittleCMS's own calculator, transicc,
// run on the same samples: relative colorimetric with black point
// compensation to sRGB. A CMYK file with an embedded press profile, an RGB
// file with a wide-gamut profile, and Lab (D50) without one; 16-bit CMYK and
// Lab go through at 16 bits, not narrowed to 8 first.
TEST(MergedImage, ProfiledColoursAreTheOnesTransiccGives) {
  if (test::CommandOutput("command -v transicc").empty()) {
    KESTREL_CANNOT_RUN("transicc is not installed (Debian liblcms2-utils)");
  }
  struct Row {
    const char* name;
    int mode;
    const char* profile;         // embedded in the file; empty: none
    const char* transiccInput;   // transicc's -i
    std::vector<std::vector<std::uint32_t>> channels;  // stored samples, one pixel per column
    // transicc works in floating point; the conversion of 8-bit samples goes through
    // LittleCMS's precalculated table, whose coarser Lab grid strays up to 4 steps.
    double tolerance;
    int depth = 8;
  };
  const std::string icc = "/usr/share/color/icc/ghostscript/";
  const Row rows[] = {
      // Stored inverted (255 is no ink): paper, full black, and mixtures of inks.
      {"cmyk", kPsdModeCmyk, "default_cmyk.icc", "default_cmyk.icc",
       {{255, 0, 128, 255, 40, 200, 255, 90},
        {255, 0, 255, 128, 220, 60, 255, 180},
        {255, 0, 255, 255, 130, 240, 128, 30},
        {255, 0, 255, 255, 255, 200, 170, 255}},
       1.0},
      {"rgb_wide_gamut", kPsdModeRgb, "a98.icc", "a98.icc",
       {{0, 255, 255, 0, 0, 128, 200, 30},
        {0, 255, 0, 255, 0, 128, 90, 160},
        {0, 255, 0, 0, 255, 128, 20, 220}},
       1.0},
      // L is v * 100 / 255; a and b are v - 128.
      {"lab", kPsdModeLab, "", "*Lab",
       {{255, 0, 128, 200, 90, 60, 180, 30},
        {128, 128, 128, 170, 90, 200, 110, 140},
        {128, 128, 128, 100, 60, 140, 210, 128}},
       4.0},
      // Dark tones a fraction of an 8-bit step apart, and saturated inks.
      {"cmyk16", kPsdModeCmyk, "default_cmyk.icc", "default_cmyk.icc",
       {{65535, 0, 20000, 20060, 20120, 3000, 51400, 23130},
        {65535, 0, 18000, 18060, 18120, 60000, 15420, 46260},
        {65535, 0, 16000, 16060, 16120, 35000, 65535, 7710},
        {65535, 0, 3000, 3060, 3120, 65535, 43690, 65535}},
       1.0, 16},
      // L is v * 100 / 65535; a and b are (v - 32768) / 256: out to a and b of
      // +-100, where narrowing to 8 bits (v * 255 / 65535) loses a unit.
      {"lab16", kPsdModeLab, "", "*Lab",
       {{65535, 0, 32768, 52000, 23130, 15420, 46260, 7710},
        {32768, 32768, 58368, 7168, 32900, 51200, 12800, 40000},
        {32768, 32768, 32768, 58368, 7168, 20000, 50000, 32768}},
       1.0, 16},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fixture f{.mode = row.mode, .depth = row.depth, .width = static_cast<std::uint32_t>(row.channels[0].size()),
              .channels = row.channels};
    std::string input = row.transiccInput;
    if (*row.profile != '\0') {
      std::ifstream in(icc + row.profile, std::ios::binary);
      if (!in) KESTREL_CANNOT_RUN(icc + row.profile + " is missing (Debian libgs-common)");
      Resource(f.resources, kPsdResourceIccProfile, Bytes((std::istreambuf_iterator<char>(in)), {}));
      input = icc + row.profile;
    }
    // transicc's numbers: ink in percent for CMYK, 0-255 for RGB, L* a* b* for Lab.
    std::string values;
    for (std::size_t x = 0; x < f.width; ++x) {
      for (std::size_t c = 0; c < row.channels.size(); ++c) {
        // A 16-bit sample is the 8-bit one at 257 a step; Lab's a and b at 256 about their centre.
        const double full = row.depth == 16 ? 65535 : 255;
        const double v = row.channels[c][x];
        const double centre = (full + 1) / 2, unit = (full + 1) / 256;
        const double shown = row.mode == kPsdModeCmyk ? (full - v) * 100 / full
                             : row.mode == kPsdModeLab ? (c == 0 ? v * 100 / full : (v - centre) / unit)
                                                       : v;
        values += std::to_string(shown) + (c + 1 < row.channels.size() ? " " : "\n");
      }
    }
    test::TempDir dir;
    test::WriteText(dir.File("in.txt"), values);
    const std::string out = test::CommandOutput("transicc -i'" + input + "' -o'*sRGB' -t1 -b -s -n < '" +
                                                dir.File("in.txt") + "' 2>/dev/null");
    std::istringstream numbers(out);
    const Decoded d = Decode(Make(f));
    ASSERT_TRUE(d.image);
    for (unsigned x = 0; x < f.width; ++x) {
      const auto ours = Pixel(d.image.get(), x);
      for (int c = 0; c < 3; ++c) {
        double theirs = -1;
        ASSERT_TRUE(numbers >> theirs) << "transicc printed: " << out;
        EXPECT_NEAR(ours[c], theirs, row.tolerance) << "pixel " << x << " channel " << c;
      }
    }
  }
}

TEST(MergedImage, DamagedRowsAreRefused) {
  Fixture rgb{.depth = 16, .width = 3, .channels = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, .runLength = true};
  const Bytes good = Make(rgb);
  const PsdHeaderCheck check = CheckPsdHeader(good);
  ASSERT_TRUE(check.ok);
  // A packet that claims more bytes than its row holds, or data cut short: no picture, no read past the end.
  Bytes lying = good;
  lying[check.header.imageDataOffset + 2 + 6] = 0x7F;          // first packet: 128 literal bytes
  const PsdDocument contents = ReadPsdDocument(lying, check.header);
  EXPECT_FALSE(DecodeMergedImage(contents));
  // Fewer channels than the colour mode needs are left to the library, never read past.
  Fixture thin{.width = 3, .channels = {{1, 2, 3}}};
  const Bytes thinFile = Make(thin);
  const PsdHeaderCheck thinCheck = CheckPsdHeader(thinFile);
  ASSERT_TRUE(thinCheck.ok);
  EXPECT_FALSE(DecodesMergedImage(ReadPsdDocument(thinFile, thinCheck.header)));
  for (std::size_t cut = check.header.imageDataOffset + 2; cut < good.size(); cut += 3) {
    const Bytes shorter(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(DecodeMergedImage(ReadPsdDocument(shorter, check.header))) << cut;
  }
}

TEST(DisplaySamples, WideBitmapsAreNarrowedByTheSameRules) {
  ImagePtr grey = Adopt(FreeImage_AllocateT(FIT_UINT16, 2, 1));
  auto* g = reinterpret_cast<std::uint16_t*>(FreeImage_GetScanLine(grey.get(), 0));
  g[0] = 1000, g[1] = 30000;
  ImagePtr narrowed = NarrowToDisplay(std::move(grey));
  ASSERT_TRUE(narrowed);
  EXPECT_EQ(FreeImage_GetBPP(narrowed.get()), 8u);
  EXPECT_EQ(FreeImage_GetScanLine(narrowed.get(), 0)[0], 4);
  EXPECT_EQ(FreeImage_GetScanLine(narrowed.get(), 0)[1], 117);
  ImagePtr rgba = Adopt(FreeImage_AllocateT(FIT_RGBAF, 1, 1));
  auto* f = reinterpret_cast<FIRGBAF*>(FreeImage_GetScanLine(rgba.get(), 0));
  *f = FIRGBAF{0.5f, 0.0018f, 7.0f, 0.5f};
  narrowed = NarrowToDisplay(std::move(rgba));
  ASSERT_TRUE(narrowed);
  const BYTE* p = FreeImage_GetScanLine(narrowed.get(), 0);
  EXPECT_EQ(p[FI_RGBA_RED], 188);
  EXPECT_EQ(p[FI_RGBA_GREEN], 6);
  EXPECT_EQ(p[FI_RGBA_BLUE], 255);
  EXPECT_EQ(p[FI_RGBA_ALPHA], 128);
}

}  // namespace
}  // namespace kestrel
