// Bevel and emboss on a square lit from straight above: the edge facing
// the light gets the highlight and the one facing away the shadow, the
// sides as much of either, the top of the bevel neither; a sunk bevel swaps
// them; an inner bevel stays on the shape and an outer one off it.
#include <gtest/gtest.h>

#include "engine/composite/effect_bevel.h"

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

}  // namespace
}  // namespace kestrel
