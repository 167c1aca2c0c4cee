// The blend modes on single pixels, against values worked out by hand from
// the modes' formulas: B(Cb, Cs) for an opaque source over an opaque
// backdrop, and the straight-alpha mix when either side is partly covered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/composite/blend_modes.h"
#include "engine/psd/layer_records.h"

namespace kestrel {
namespace {

struct Case {
  const char key[5];
  float backdrop;
  float source;
  float expected;
};

// Backdrop 0.6 and 0.2, source 0.3 and 0.8, so that each mode's two branches show.
constexpr Case kCases[] = {
    {"norm", 0.6f, 0.3f, 0.3f},    {"dark", 0.6f, 0.8f, 0.6f},    {"lite", 0.6f, 0.3f, 0.6f},
    {"mul ", 0.6f, 0.3f, 0.18f},   {"scrn", 0.6f, 0.3f, 0.72f},   {"diff", 0.6f, 0.8f, 0.2f},
    {"smud", 0.6f, 0.3f, 0.54f},   {"fsub", 0.6f, 0.2f, 0.4f},    {"fdiv", 0.6f, 0.8f, 0.75f},
    {"fdiv", 0.6f, 0.3f, 1.0f},    {"lbrn", 0.6f, 0.3f, 0.0f},    {"lbrn", 0.6f, 0.8f, 0.4f},
    {"lddg", 0.6f, 0.3f, 0.9f},    {"lddg", 0.6f, 0.8f, 1.0f},    {"idiv", 0.6f, 0.8f, 0.5f},
    {"idiv", 0.2f, 0.3f, 0.0f},    {"div ", 0.2f, 0.3f, 0.2f / 0.7f}, {"div ", 0.6f, 0.8f, 1.0f},
    {"hLit", 0.6f, 0.3f, 0.36f},   {"hLit", 0.6f, 0.8f, 0.84f},   {"over", 0.2f, 0.3f, 0.12f},
    {"over", 0.6f, 0.3f, 0.44f},   {"sLit", 0.6f, 0.3f, 0.504f},  {"sLit", 0.2f, 0.8f, 0.3488f},
    {"sLit", 0.6f, 0.8f, 0.7047582f},  {"lLit", 0.6f, 0.3f, 0.2f},
    {"lLit", 0.6f, 0.8f, 1.0f},    {"pLit", 0.6f, 0.3f, 0.6f},    {"pLit", 0.2f, 0.8f, 0.6f},
    {"hMix", 0.6f, 0.3f, 0.0f},    {"hMix", 0.6f, 0.8f, 1.0f},    {"hMix", 0.6f, 0.4f, 0.0f},
    // Vivid light takes the backdrop as the light: dodge above half grey, burn below.
    {"vLit", 0.6f, 0.8f, 1.0f},    {"vLit", 0.6f, 0.3f, 0.375f},  {"vLit", 0.4f, 0.9f, 0.875f},
    {"vLit", 0.2f, 0.3f, 0.0f},
};

TEST(BlendModes, EachSeparableModeGivesItsFormulasValue) {
  for (const Case& c : kCases) {
    float colour = c.backdrop;
    float alpha = 1;
    const float source = c.source;
    const float coverage = 1;
    BlendPixels(BlendModeFromKey(FourCC(c.key)), 1, &colour, &alpha, &source, &coverage, 1);
    EXPECT_NEAR(colour, c.expected, 1e-5) << c.key << " " << c.backdrop << " " << c.source;
    EXPECT_FLOAT_EQ(alpha, 1.0f) << c.key;
  }
}

// Every mode on three RGB pixel pairs, against values printed by
// tools/blend_reference.py, which types the modes' formulas as the PDF and W3C
// compositing references write them (not this code). The pairs take each
// branch of each mode (soft light over a dark and a light backdrop, the
// saturation helper with its middle channel in each place), and no two modes
// agree on all of them, so a mode that computes its neighbour's value fails.
constexpr float kPairs[3][2][3] = {
    {{0.05f, 0.60f, 0.90f}, {0.80f, 0.20f, 0.55f}},
    {{0.90f, 0.15f, 0.45f}, {0.12f, 0.70f, 0.35f}},
    {{0.50f, 0.35f, 0.10f}, {0.65f, 0.95f, 0.40f}},
};

struct ModeRow {
  const char key[5];
  float expected[3][3];  // per pair
};

constexpr ModeRow kModeRows[] = {
    {"norm", {{0.800000f, 0.200000f, 0.550000f}, {0.120000f, 0.700000f, 0.350000f}, {0.650000f, 0.950000f, 0.400000f}}},
    {"dark", {{0.050000f, 0.200000f, 0.550000f}, {0.120000f, 0.150000f, 0.350000f}, {0.500000f, 0.350000f, 0.100000f}}},
    {"mul ", {{0.040000f, 0.120000f, 0.495000f}, {0.108000f, 0.105000f, 0.157500f}, {0.325000f, 0.332500f, 0.040000f}}},
    {"idiv", {{0.000000f, 0.000000f, 0.818182f}, {0.166667f, 0.000000f, 0.000000f}, {0.230769f, 0.315789f, 0.000000f}}},
    {"lbrn", {{0.000000f, 0.000000f, 0.450000f}, {0.020000f, 0.000000f, 0.000000f}, {0.150000f, 0.300000f, 0.000000f}}},
    {"lite", {{0.800000f, 0.600000f, 0.900000f}, {0.900000f, 0.700000f, 0.450000f}, {0.650000f, 0.950000f, 0.400000f}}},
    {"scrn", {{0.810000f, 0.680000f, 0.955000f}, {0.912000f, 0.745000f, 0.642500f}, {0.825000f, 0.967500f, 0.460000f}}},
    {"div ", {{0.250000f, 0.750000f, 1.000000f}, {1.000000f, 0.500000f, 0.692308f}, {1.000000f, 1.000000f, 0.166667f}}},
    {"lddg", {{0.850000f, 0.800000f, 1.000000f}, {1.000000f, 0.850000f, 0.800000f}, {1.000000f, 1.000000f, 0.500000f}}},
    {"over", {{0.080000f, 0.360000f, 0.910000f}, {0.824000f, 0.210000f, 0.315000f}, {0.650000f, 0.665000f, 0.080000f}}},
    {"sLit", {{0.123200f, 0.456000f, 0.904868f}, {0.831600f, 0.243600f, 0.375750f}, {0.562132f, 0.567447f, 0.082000f}}},
    {"hLit", {{0.620000f, 0.240000f, 0.910000f}, {0.216000f, 0.490000f, 0.315000f}, {0.650000f, 0.935000f, 0.080000f}}},
    {"vLit", {{0.000000f, 0.250000f, 1.000000f}, {0.600000f, 0.000000f, 0.277778f}, {0.650000f, 0.928571f, 0.000000f}}},
    {"lLit", {{0.650000f, 0.000000f, 1.000000f}, {0.140000f, 0.550000f, 0.150000f}, {0.800000f, 1.000000f, 0.000000f}}},
    {"pLit", {{0.600000f, 0.400000f, 0.900000f}, {0.240000f, 0.400000f, 0.450000f}, {0.500000f, 0.900000f, 0.100000f}}},
    {"hMix", {{0.000000f, 0.000000f, 1.000000f}, {1.000000f, 0.000000f, 0.000000f}, {1.000000f, 1.000000f, 0.000000f}}},
    {"diff", {{0.750000f, 0.400000f, 0.350000f}, {0.780000f, 0.550000f, 0.100000f}, {0.150000f, 0.600000f, 0.300000f}}},
    {"smud", {{0.770000f, 0.560000f, 0.460000f}, {0.804000f, 0.640000f, 0.485000f}, {0.500000f, 0.635000f, 0.420000f}}},
    {"fsub", {{0.000000f, 0.400000f, 0.350000f}, {0.780000f, 0.000000f, 0.100000f}, {0.000000f, 0.000000f, 0.000000f}}},
    {"fdiv", {{0.062500f, 1.000000f, 1.000000f}, {1.000000f, 0.214286f, 1.000000f}, {0.769231f, 0.368421f, 0.250000f}}},
    {"hue ", {{1.000000f, 0.163303f, 0.651376f}, {0.000000f, 0.643918f, 0.255347f}, {0.258773f, 0.476955f, 0.076955f}}},
    {"sat ", {{0.172941f, 0.561176f, 0.772941f}, {0.788480f, 0.208480f, 0.440480f}, {0.549533f, 0.343458f, 0.000000f}}},
    {"colr", {{0.849500f, 0.249500f, 0.599500f}, {0.040500f, 0.620500f, 0.270500f}, {0.229975f, 0.505945f, 0.000000f}}},
    {"lum ", {{0.000500f, 0.550500f, 0.850500f}, {0.979500f, 0.229500f, 0.529500f}, {0.932000f, 0.782000f, 0.532000f}}},
    {"dkCl", {{0.800000f, 0.200000f, 0.550000f}, {0.900000f, 0.150000f, 0.450000f}, {0.500000f, 0.350000f, 0.100000f}}},
    {"lgCl", {{0.050000f, 0.600000f, 0.900000f}, {0.120000f, 0.700000f, 0.350000f}, {0.650000f, 0.950000f, 0.400000f}}},
};

TEST(BlendModes, EachModeOnRgbPixelsGivesTheReferenceValue) {
  for (const ModeRow& row : kModeRows) {
    for (int p = 0; p < 3; ++p) {
      float colour[3] = {kPairs[p][0][0], kPairs[p][0][1], kPairs[p][0][2]};
      float alpha = 1;
      const float coverage = 1;
      BlendPixels(BlendModeFromKey(FourCC(row.key)), 3, colour, &alpha, kPairs[p][1], &coverage, 1);
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(colour[c], row.expected[p][c], 2e-5) << "'" << row.key << "' pair " << p << " channel " << c;
      }
    }
  }
}

// The table above is only as strong as its rows are apart: each mode's
// expectations differ from every other mode's somewhere by more than a
// rounding, so no mode can pass in its neighbour's place.
TEST(BlendModes, TheReferenceRowsTellEveryModeApart) {
  for (const ModeRow& a : kModeRows) {
    for (const ModeRow& b : kModeRows) {
      if (&a == &b) continue;
      float most = 0;
      for (int p = 0; p < 3; ++p) {
        for (int c = 0; c < 3; ++c) most = std::max(most, std::fabs(a.expected[p][c] - b.expected[p][c]));
      }
      EXPECT_GT(most, 0.05f) << "'" << a.key << "' and '" << b.key << "'";
    }
  }
}

// A 16- or 32-bit picture keeps an alpha channel wherever a pixel's alpha is
// below 1: layers over an opaque backdrop, or opaque layers, must leave it at
// exactly 1, whatever the rounding of the alpha formula would give.
TEST(BlendModes, OpaqueStaysExactlyOpaque) {
  for (const BlendMode mode : {BlendMode::Normal, BlendMode::Multiply, BlendMode::Screen, BlendMode::Hue}) {
    for (int step = 1; step <= 100; ++step) {
      const float coverage = step / 100.0f * 0.999f;
      float colour[3] = {0.2f, 0.5f, 0.7f};
      float alpha = 1.0f;
      const float source[3] = {0.9f, 0.1f, 0.3f};
      BlendPixels(mode, 3, colour, &alpha, source, &coverage, 1);
      EXPECT_EQ(alpha, 1.0f) << static_cast<int>(mode) << " coverage " << coverage;
      alpha = coverage;
      const float opaque = 1.0f;
      BlendPixels(mode, 3, colour, &alpha, source, &opaque, 1);
      EXPECT_EQ(alpha, 1.0f) << static_cast<int>(mode) << " backdrop " << coverage;
    }
  }
}

TEST(BlendModes, PartlyCoveredPixelsMixByStraightAlpha) {
  // Multiply, source 0.5 at coverage 0.5 over backdrop 0.8 at alpha 0.5:
  // ar = 0.75; Cr = (0.5*0.5*0.5 + 0.5*0.5*0.4 + 0.5*0.5*0.8) / 0.75 = 0.5667.
  float colour = 0.8f;
  float alpha = 0.5f;
  const float source = 0.5f;
  const float coverage = 0.5f;
  BlendPixels(BlendMode::Multiply, 1, &colour, &alpha, &source, &coverage, 1);
  EXPECT_NEAR(alpha, 0.75f, 1e-6);
  EXPECT_NEAR(colour, (0.125f + 0.1f + 0.2f) / 0.75f, 1e-6);
  // Over a transparent backdrop a source shows its own colour, whatever the mode.
  colour = 0.9f;
  alpha = 0;
  BlendPixels(BlendMode::Difference, 1, &colour, &alpha, &source, &coverage, 1);
  EXPECT_FLOAT_EQ(colour, 0.5f);
  EXPECT_FLOAT_EQ(alpha, 0.5f);
}

TEST(BlendModes, NonSeparableModesKeepTheRightPartsOfEachColour) {
  const float backdrop[3] = {0.8f, 0.4f, 0.2f};  // lum 0.498
  const float source[3] = {0.1f, 0.2f, 0.9f};    // lum 0.247
  const float coverage = 1;
  struct Row {
    BlendMode mode;
    float expected[3];
  };
  // Luminosity: the backdrop shifted by 0.247 - 0.498, then clipped; Colour: the source shifted by 0.498 - 0.247,
  // then brought back into range around its lum (0.498) since blue passes 1; darker colour: the source.
  const float d = 0.247f - 0.498f;
  const float shifted[3] = {0.1f - d, 0.2f - d, 0.9f - d};
  const float scale = (1 - 0.498f) / (shifted[2] - 0.498f);
  const Row rows[] = {
      // Blue falls below 0 and is brought back into range around the lum (0.247).
      {BlendMode::Luminosity,
       {0.247f + (0.8f + d - 0.247f) * 0.247f / (0.247f - (0.2f + d)),
        0.247f + (0.4f + d - 0.247f) * 0.247f / (0.247f - (0.2f + d)), 0.0f}},
      {BlendMode::Colour,
       {0.498f + (shifted[0] - 0.498f) * scale, 0.498f + (shifted[1] - 0.498f) * scale, 1.0f}},
      {BlendMode::DarkerColour, {0.1f, 0.2f, 0.9f}},
      {BlendMode::LighterColour, {0.8f, 0.4f, 0.2f}},
  };
  for (const Row& row : rows) {
    float colour[3] = {backdrop[0], backdrop[1], backdrop[2]};
    float alpha = 1;
    const float cov[1] = {coverage};
    BlendPixels(row.mode, 3, colour, &alpha, source, cov, 1);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(colour[c], row.expected[c], 1e-4) << static_cast<int>(row.mode) << " " << c;
  }
}

// CMYK as stored (1 is no ink): the colour modes see the light each pixel
// leaves, C * K for red and so on, and give back inks of that light under the
// black of the side whose lightness they keep.
TEST(BlendModes, NonSeparableModesInCmykWorkOnTheLightTheInksLeave) {
  const float red[4] = {1, 0, 0, 1};          // magenta and yellow: light (1, 0, 0), lum 0.3
  const float grey[4] = {0.5f, 0.5f, 0.5f, 1};  // light (0.5, 0.5, 0.5)
  const float halfBlack[4] = {1, 1, 1, 0.5f};   // black ink only: light (0.5, 0.5, 0.5)
  // Red brought to lum 0.5: (1.2, 0.2, 0.2) clipped around 0.5 gives (1, 0.5 - 0.3 * 0.5 / 0.7, the same).
  const float pink = 0.5f - 0.3f * 0.5f / 0.7f;
  struct Row {
    const char* name;
    BlendMode mode;
    const float* backdrop;
    const float* source;
    float expected[4];
  };
  const Row rows[] = {
      {"colour_of_red_on_grey", BlendMode::Colour, grey, red, {1, pink, pink, 1}},
      // The light (1, pink, pink) under the source's half black needs twice as much light from the other inks.
      {"lightness_of_black_ink_on_red", BlendMode::Luminosity, red, halfBlack, {1, 2 * pink, 2 * pink, 0.5f}},
      // A grey made of black ink has no hue to take: it stays as it was.
      {"hue_of_red_on_black_ink", BlendMode::Hue, halfBlack, red, {1, 1, 1, 0.5f}},
      // Red without saturation is the grey of its lum, 0.3.
      {"saturation_of_grey_on_red", BlendMode::Saturation, red, grey, {0.3f, 0.3f, 0.3f, 1}},
      // Red (lum 0.3) is darker than either grey (lum 0.5), and is taken whole.
      {"darker_colour", BlendMode::DarkerColour, halfBlack, red, {1, 0, 0, 1}},
      {"lighter_colour", BlendMode::LighterColour, halfBlack, red, {1, 1, 1, 0.5f}},
  };
  for (const Row& row : rows) {
    float colour[4] = {row.backdrop[0], row.backdrop[1], row.backdrop[2], row.backdrop[3]};
    float alpha = 1;
    const float coverage = 1;
    BlendPixels(row.mode, 4, colour, &alpha, row.source, &coverage, 1);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(colour[c], row.expected[c], 1e-4) << row.name << " " << c;
  }
}

// Lab: lightness and the a-b plane apart. The backdrop is light and reddish
// (chroma 0.2 along a), the source darker and bluish (chroma 0.1 against b).
TEST(BlendModes, NonSeparableModesInLabKeepLightnessApartFromColour) {
  const float c8 = 128.0f / 255, c16 = 32768.0f / 65535;
  struct Row {
    const char* name;
    BlendMode mode;
    BlendSpace space;
    float backdrop[3];
    float source[3];
    float expected[3];
  };
  const Row rows[] = {
      {"luminosity", BlendMode::Luminosity, BlendSpace::Lab8, {0.6f, c8 + 0.2f, c8}, {0.3f, c8, c8 - 0.1f},
       {0.3f, c8 + 0.2f, c8}},
      {"colour", BlendMode::Colour, BlendSpace::Lab8, {0.6f, c8 + 0.2f, c8}, {0.3f, c8, c8 - 0.1f},
       {0.6f, c8, c8 - 0.1f}},
      // The source's hue (against b) at the backdrop's chroma, and the other way round.
      {"hue", BlendMode::Hue, BlendSpace::Lab8, {0.6f, c8 + 0.2f, c8}, {0.3f, c8, c8 - 0.1f}, {0.6f, c8, c8 - 0.2f}},
      {"saturation", BlendMode::Saturation, BlendSpace::Lab8, {0.6f, c8 + 0.2f, c8}, {0.3f, c8, c8 - 0.1f},
       {0.6f, c8 + 0.1f, c8}},
      {"darker_colour", BlendMode::DarkerColour, BlendSpace::Lab8, {0.6f, c8 + 0.2f, c8}, {0.3f, c8, c8 - 0.1f},
       {0.3f, c8, c8 - 0.1f}},
      {"lighter_colour", BlendMode::LighterColour, BlendSpace::Lab8, {0.6f, c8 + 0.2f, c8}, {0.3f, c8, c8 - 0.1f},
       {0.6f, c8 + 0.2f, c8}},
      // A grey source has no hue to give: the backdrop turns grey. At 16 bits grey is centred on 32768.
      {"hue_of_grey_16", BlendMode::Hue, BlendSpace::Lab16, {0.6f, c16 + 0.2f, c16}, {0.3f, c16, c16},
       {0.6f, c16, c16}},
  };
  for (const Row& row : rows) {
    float colour[3] = {row.backdrop[0], row.backdrop[1], row.backdrop[2]};
    float alpha = 1;
    const float coverage = 1;
    BlendPixels(row.mode, 3, colour, &alpha, row.source, &coverage, 1, row.space);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(colour[c], row.expected[c], 1e-5) << row.name << " " << c;
  }
}

}  // namespace
}  // namespace kestrel
