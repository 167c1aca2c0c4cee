// Vector masks drawn as coverage: areas and antialiased edges worked out by
// hand for straight-edged paths, and the ways components join.
#include <gtest/gtest.h>

#include <vector>

#include "engine/composite/vector_mask.h"

namespace kestrel {
namespace {

// A rectangle as a closed subpath whose control points sit on its corners.
PathComponent Rectangle(double left, double top, double right, double bottom, int operation) {
  PathComponent c;
  c.operation = operation;
  for (const PathPoint& p : {PathPoint{left, top}, PathPoint{right, top}, PathPoint{right, bottom}, PathPoint{left, bottom}}) {
    c.knots.push_back(PathKnot{p, p, p});
  }
  return c;
}

TEST(VectorMask, ARectangleCoversItsPixelsAndHalfOfThoseItHalves) {
  PsdVectorMask mask;
  mask.subpaths.push_back(Rectangle(1.5, 1, 3, 3, 1));
  const PsdRect area{0, 0, 4, 4};
  const std::vector<float> c = RasteriseVectorMask(mask, area);
  const float expected[4][4] = {{0, 0, 0, 0}, {0, 0.5f, 1, 0}, {0, 0.5f, 1, 0}, {0, 0, 0, 0}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_NEAR(c[y * 4 + x], expected[y][x], 1e-6) << x << "," << y;
  }
  EXPECT_EQ(VectorMaskBounds(mask, PsdRect{0, 0, 4, 4}).left, 1);
  EXPECT_EQ(VectorMaskBounds(mask, PsdRect{0, 0, 4, 4}).right, 3);
  mask.inverted = true;
  EXPECT_NEAR(RasteriseVectorMask(mask, area)[1 * 4 + 1], 0.5f, 1e-6);
  EXPECT_NEAR(RasteriseVectorMask(mask, area)[0], 1.0f, 1e-6);
}

// Path points are stored as fractions of the canvas, so an edge on a pixel
// boundary comes back a hair off it (0.1207547 of 530 is 63.99999 or
// 64.00001): the bounds keep to the pixels the shape covers.
TEST(VectorMask, BoundsIgnoreAHairBeyondAPixelEdge) {
  PsdVectorMask mask;
  mask.subpaths.push_back(Rectangle(-1e-6, 1 + 1e-6, 64 + 1e-6, 3 - 1e-6, 1));
  const PsdRect bounds = VectorMaskBounds(mask, PsdRect{0, 0, 100, 100});
  EXPECT_EQ(bounds.left, 0);
  EXPECT_EQ(bounds.top, 1);
  EXPECT_EQ(bounds.right, 64);
  EXPECT_EQ(bounds.bottom, 3);
}

TEST(VectorMask, ComponentsJoinByTheirOperation) {
  // Two 2x2 squares overlapping in one pixel, (1,1): union, subtract, intersect, exclude.
  struct Case {
    int operation;
    float atOverlap, atFirstOnly, atSecondOnly;
  };
  const Case cases[] = {{1, 1, 1, 1}, {2, 0, 1, 0}, {3, 1, 0, 0}, {0, 0, 1, 1}};
  const PsdRect area{0, 0, 3, 3};
  for (const Case& k : cases) {
    PsdVectorMask mask;
    mask.subpaths.push_back(Rectangle(0, 0, 2, 2, 1));
    mask.subpaths.push_back(Rectangle(1, 1, 3, 3, k.operation));
    const std::vector<float> c = RasteriseVectorMask(mask, area);
    EXPECT_NEAR(c[1 * 3 + 1], k.atOverlap, 1e-6) << k.operation;
    EXPECT_NEAR(c[0], k.atFirstOnly, 1e-6) << k.operation;
    EXPECT_NEAR(c[2 * 3 + 2], k.atSecondOnly, 1e-6) << k.operation;
  }
  // A subpath marked as part of the one before shares its plane: the overlap is a hole (even-odd).
  PsdVectorMask merged;
  merged.subpaths.push_back(Rectangle(0, 0, 2, 2, 1));
  merged.subpaths.push_back(Rectangle(1, 1, 3, 3, -1));
  EXPECT_NEAR(RasteriseVectorMask(merged, area)[1 * 3 + 1], 0.0f, 1e-6);
}

}  // namespace
}  // namespace kestrel
