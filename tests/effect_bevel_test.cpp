// Bevel and emboss on a square lit from straight above: the edge facing
// the light gets the highlight and the one facing away the shadow, the
// sides as much of either, the top of the bevel neither; a sunk bevel swaps
// them; an inner bevel stays on the shape and an outer one off it; the
// pixels along the edge of the shape's box slope as their neighbours do; a
// texture's pattern shades the level top; gloss contours follow Photoshop's
// curve through their points.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <memory>

#include "engine/composite/effect_bevel.h"
#include "engine/composite/patterns.h"

namespace kestrel {
namespace {

// An opaque 20-pixel square in the middle of a 40-pixel plane.
ShapePlane Square() {
  ShapePlane shape;
  shape.rect = PsdRect{0, 0, 40, 40};
  shape.alpha.assign(1600, 0.0f);
  for (int y = 10; y < 30; ++y) {
    for (int x = 10; x < 30; ++x) shape.alpha[static_cast<std::size_t>(y * 40 + x)] = 1;
  }
  shape.bounds = PsdRect{10, 10, 30, 30};
  return shape;
}

// An opaque 40-pixel plane: a shape filling its whole box.
ShapePlane FullBox() {
  ShapePlane shape;
  shape.rect = PsdRect{0, 0, 40, 40};
  shape.alpha.assign(1600, 1.0f);
  shape.bounds = shape.rect;
  return shape;
}

float At(const std::vector<float>& plane, int x, int y) { return plane[static_cast<std::size_t>(y * 40 + x)]; }

TEST(EffectBevel, TheEdgeFacingTheLightIsLitAndTheOtherShaded) {
  using Style = BevelSettings::Style;
  struct Case {
    Style style;
    bool up;
    int topRow, bottomRow;  // a row of the band along the top edge and one along the bottom
  };
  const Case cases[] = {
      {Style::Inner, true, 11, 28},
      {Style::Inner, false, 11, 28},
      {Style::Outer, true, 8, 31},
      {Style::Emboss, true, 10, 29},
      {Style::Pillow, true, 11, 28},
  };
  for (const Case& c : cases) {
    BevelSettings bevel;
    bevel.style = c.style;
    bevel.up = c.up;
    bevel.size = 5;
    bevel.angle = 90;
    bevel.technique = BevelSettings::Technique::ChiselHard;
    const BevelLight light = LightBevel(bevel, Square());
    const std::vector<float>& lit = c.up ? light.highlight : light.shadow;
    const std::vector<float>& dark = c.up ? light.shadow : light.highlight;
    const int style = static_cast<int>(c.style);
    EXPECT_GT(At(lit, 20, c.topRow), 0.3f) << style;
    EXPECT_EQ(At(dark, 20, c.topRow), 0.0f) << style;
    EXPECT_GT(At(dark, 20, c.bottomRow), 0.3f) << style;
    EXPECT_EQ(At(lit, 20, c.bottomRow), 0.0f) << style;
    // The left and right edges face the light equally.
    EXPECT_NEAR(At(light.highlight, 11, 20), At(light.highlight, 28, 20), 1e-5) << style;
    EXPECT_NEAR(At(light.shadow, 11, 20), At(light.shadow, 28, 20), 1e-5) << style;
    // Far from the edge the surface is level.
    EXPECT_EQ(At(light.highlight, 20, 20), 0.0f) << style;
    EXPECT_EQ(At(light.shadow, 20, 20), 0.0f) << style;
  }
}

TEST(EffectBevel, AnInnerBevelStaysOnTheShapeAndAnOuterOneOffIt) {
  BevelSettings bevel;
  bevel.size = 4;
  bevel.angle = 90;
  const BevelLight inner = LightBevel(bevel, Square());
  for (int y = 0; y < 10; ++y) EXPECT_EQ(At(inner.highlight, 20, y), 0.0f) << y;
  bevel.style = BevelSettings::Style::Outer;
  const BevelLight outer = LightBevel(bevel, Square());
  for (int y = 10; y < 30; ++y) EXPECT_EQ(At(outer.highlight, 20, y) + At(outer.shadow, 20, y), 0.0f) << y;
  EXPECT_GT(At(outer.highlight, 20, 8), 0.3f);  // above the shape the ground rises towards it, facing the light
}

// A shape filling its whole box (a layer covering the canvas): the rows
// along the box's top edge slope as the rows beneath them do, for a straight
// chisel lit from above.
TEST(EffectBevel, TheBoxEdgeSlopesAsItsNeighbours) {
  BevelSettings bevel;
  bevel.size = 5;
  bevel.angle = 90;
  bevel.technique = BevelSettings::Technique::ChiselHard;
  const BevelLight light = LightBevel(bevel, FullBox());
  EXPECT_GT(At(light.highlight, 20, 0), 0.3f);
  EXPECT_NEAR(At(light.highlight, 20, 0), At(light.highlight, 20, 1), 1e-3);
  EXPECT_NEAR(At(light.shadow, 20, 39), At(light.shadow, 20, 38), 1e-3);
}

// Stripes ten pixels wide, dark then light, pressed into the top of a bevel
// lit from the right: the dark stripes are raised, so where a dark stripe
// gives way to a light one (x = 10, 30) the surface faces the light and
// where a light one gives way to a dark one (x = 20) it faces away;
// inverted, the other way round. Without a texture the top stays level.
TEST(EffectBevel, ATexturesDarkPartsAreRaised) {
  PatternTile stripes{20, 1, 3, std::vector<float>(60, 0.0f), {}};
  for (int x = 10; x < 20; ++x) std::fill_n(stripes.colour.begin() + x * 3, 3, 1.0f);
  const PatternChoice choice;
  struct Case {
    const char* name;
    bool textured, invert;
    float atDrop, atRise;  // the sign of highlight minus shadow at x = 10 and x = 20
  };
  const Case cases[] = {
      {"no texture", false, false, 0, 0},
      {"texture", true, false, 1, -1},
      {"inverted texture", true, true, -1, 1},
  };
  for (const Case& c : cases) {
    BevelSettings bevel;
    bevel.size = 2;
    bevel.angle = 0;
    if (c.textured) bevel.texture = BevelTexture{MakePatternPainter(stripes, choice), 1.0, c.invert};
    const BevelLight light = LightBevel(bevel, FullBox());
    for (const auto& [x, sign] : {std::pair{10, c.atDrop}, std::pair{30, c.atDrop}, std::pair{20, c.atRise}}) {
      const float lit = At(light.highlight, x, 20) - At(light.shadow, x, 20);
      if (sign == 0) EXPECT_EQ(lit, 0.0f) << c.name << " x " << x;
      else EXPECT_GT(lit * sign, 0.2f) << c.name << " x " << x;
    }
    // Within a stripe the top is level.
    EXPECT_EQ(At(light.highlight, 15, 20) + At(light.shadow, 15, 20), 0.0f) << c.name;
  }
}

DescriptorValue CurveOf(std::initializer_list<std::array<double, 3>> points) {
  const auto number = [](double v) {
    DescriptorValue value;
    value.type = DescriptorValue::Type::Number;
    value.number = v;
    return value;
  };
  DescriptorValue curve;
  curve.type = DescriptorValue::Type::List;
  for (const auto& [x, y, corner] : points) {
    DescriptorValue point;
    point.type = DescriptorValue::Type::Object;
    point.items = {{"Hrzn", number(x)}, {"Vrtc", number(y)}};
    if (corner != 0) {
      DescriptorValue smooth;
      smooth.type = DescriptorValue::Type::Boolean;
      point.items.push_back({"Cnty", smooth});
    }
    curve.list.push_back(point);
  }
  DescriptorValue contour;
  contour.type = DescriptorValue::Type::Object;
  contour.items = {{"Crv ", curve}};
  DescriptorValue effect;
  effect.type = DescriptorValue::Type::Object;
  effect.items = {{"TrnS", contour}};
  return effect;
}

// A contour is a natural cubic spline through its smooth points: one
// rising steeply to (96, 224) overshoots its last point between them and
// saturates there (Photoshop's picture of such a gloss contour is fully lit
// on level ground, input 128); two points make a straight line; a corner
// breaks the curve into straight pieces.
TEST(EffectBevel, ContoursAreNaturalSplinesBrokenAtCorners) {
  const Contour steep = ReadContour(CurveOf({{0, 0, 0}, {96, 224, 0}, {255, 255, 0}}), "TrnS");
  EXPECT_FLOAT_EQ(steep[128], 1.0f);
  EXPECT_NEAR(steep[96], 224 / 255.0f, 1e-6);
  const Contour half = ReadContour(CurveOf({{0, 128, 0}, {255, 255, 0}}), "TrnS");
  EXPECT_NEAR(half[64], (128 + 64 * 127 / 255.0) / 255, 1e-6);
  const Contour peak = ReadContour(CurveOf({{0, 0, 0}, {128, 255, 1}, {255, 0, 0}}), "TrnS");
  EXPECT_NEAR(peak[64], 0.5, 1e-6);
  EXPECT_NEAR(peak[192], 1 - 64 / 127.0, 1e-6);
}

// The bevel's own contour is its cross-section: one falling from the top
// at the foot to the bottom at the top turns a raised bevel into a sunk
// one, and a straight one leaves it as it is.
TEST(EffectBevel, TheBevelsContourShapesItsRise) {
  BevelSettings bevel;
  bevel.size = 5;
  bevel.angle = 90;
  bevel.technique = BevelSettings::Technique::ChiselHard;
  BevelSettings sunk = bevel;
  sunk.up = false;
  const BevelLight plain = LightBevel(bevel, Square());
  const BevelLight down = LightBevel(sunk, Square());
  bevel.profile = ReadContour(CurveOf({{0, 0, 0}, {255, 255, 0}}), "TrnS");
  const BevelLight straight = LightBevel(bevel, Square());
  bevel.profile = ReadContour(CurveOf({{0, 255, 0}, {255, 0, 0}}), "TrnS");
  const BevelLight falling = LightBevel(bevel, Square());
  for (const int y : {12, 27}) {
    EXPECT_NEAR(At(straight.highlight, 20, y), At(plain.highlight, 20, y), 1e-5) << y;
    EXPECT_NEAR(At(straight.shadow, 20, y), At(plain.shadow, 20, y), 1e-5) << y;
    EXPECT_NEAR(At(falling.highlight, 20, y), At(down.highlight, 20, y), 1e-3) << y;
    EXPECT_NEAR(At(falling.shadow, 20, y), At(down.shadow, 20, y), 1e-3) << y;
  }
  EXPECT_GT(At(falling.shadow, 20, 12), 0.3f);
}

}  // namespace
}  // namespace kestrel
