// The stroke effect's band against plane geometry: on a square its width is
// the stroke's size on each side, its outer corners are round (Euclidean
// distance) and its inner ones square; and the distance field under it
// against a brute-force search.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/composite/distance_field.h"
#include "engine/composite/effect_stroke.h"

namespace kestrel {
namespace {

// An opaque square of `side` pixels from (10, 10).
ShapePlane Square(std::int32_t side) {
  ShapePlane shape;
  shape.rect = PsdRect{10, 10, 10 + side, 10 + side};
  shape.alpha.assign(static_cast<std::size_t>(side * side), 1.0f);
  return shape;
}

float At(const std::vector<float>& plane, const PsdRect& rect, std::int64_t x, std::int64_t y) {
  if (x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom) return 0;
  return plane[static_cast<std::size_t>((y - rect.top) * rect.Width() + (x - rect.left))];
}

TEST(EffectStroke, BandIsTheSizeWideOnTheSideItLies) {
  using Position = StrokeSettings::Position;
  struct Case {
    Position position;
    double size;
    int firstCovered;  // columns from the square's left edge (0 its first column, -1 the one before)
    int lastCovered;
  };
  const Case cases[] = {
      {Position::Outside, 3, -3, -1},
      {Position::Outside, 1, -1, -1},
      {Position::Inside, 3, 0, 2},
      {Position::Centre, 4, -2, 1},
  };
  for (const Case& c : cases) {
    StrokeSettings stroke;
    stroke.position = c.position;
    stroke.size = c.size;
    PsdRect rect;
    const std::vector<float> coverage = StrokeCoverage(stroke, Square(20), rect);
    const std::int64_t y = 20;  // a middle row: the band is straight there
    for (int dx = -6; dx <= 6; ++dx) {
      const float expected = dx >= c.firstCovered && dx <= c.lastCovered ? 1.0f : 0.0f;
      EXPECT_NEAR(At(coverage, rect, 10 + dx, y), expected, 1e-6) << "size " << c.size << " column " << dx;
    }
    // The same band along the top edge.
    for (int dy = -6; dy <= 6; ++dy) {
      const float expected = dy >= c.firstCovered && dy <= c.lastCovered ? 1.0f : 0.0f;
      EXPECT_NEAR(At(coverage, rect, 20, 10 + dy), expected, 1e-6) << "size " << c.size << " row " << dy;
    }
  }
}

TEST(EffectStroke, OuterCornersAreRoundAndTheInsideIsLeftAlone) {
  StrokeSettings stroke;
  stroke.size = 3;
  PsdRect rect;
  const std::vector<float> coverage = StrokeCoverage(stroke, Square(20), rect);
  // (7, 7) lies 2.5 px from the corner (10, 10) on each axis: 3.54 px away, beyond the band.
  EXPECT_EQ(At(coverage, rect, 7, 7), 0.0f);
  // (8, 8) is 2.12 px away: inside it.
  EXPECT_EQ(At(coverage, rect, 8, 8), 1.0f);
  // An outside stroke never covers the shape.
  EXPECT_EQ(At(coverage, rect, 15, 15), 0.0f);
  EXPECT_EQ(At(coverage, rect, 10, 10), 0.0f);
  // An inside stroke's corner stays square.
  stroke.position = StrokeSettings::Position::Inside;
  const std::vector<float> inside = StrokeCoverage(stroke, Square(20), rect);
  EXPECT_EQ(At(inside, rect, 10, 10), 1.0f);
  EXPECT_EQ(At(inside, rect, 12, 12), 1.0f);
  EXPECT_EQ(At(inside, rect, 13, 13), 0.0f);
}

TEST(EffectStroke, HalfCoveredEdgesGiveHalfCoveredBands) {
  // A band of 2.5 px: its last pixel is half covered.
  StrokeSettings stroke;
  stroke.size = 2.5;
  PsdRect rect;
  const std::vector<float> coverage = StrokeCoverage(stroke, Square(20), rect);
  EXPECT_NEAR(At(coverage, rect, 7, 20), 0.5f, 1e-6);
  EXPECT_NEAR(At(coverage, rect, 8, 20), 1.0f, 1e-6);
  // A shape whose edge column is half covered: the band starts inside that column.
  ShapePlane soft = Square(20);
  for (int y = 0; y < 20; ++y) soft.alpha[static_cast<std::size_t>(y * 20)] = 0.5f;
  stroke.size = 2;
  const std::vector<float> softBand = StrokeCoverage(stroke, soft, rect);
  EXPECT_NEAR(At(softBand, rect, 10, 20), 0.5f, 1e-6);  // what the shape leaves of its edge column
  EXPECT_NEAR(At(softBand, rect, 9, 20), 1.0f, 1e-6);
  EXPECT_NEAR(At(softBand, rect, 8, 20), 0.5f, 1e-6);
  // A line thinner than half a pixel (the point of a star, say) is stroked too: a pixel of
  // alpha 0.25 reaches a quarter pixel less far than an opaque one.
  ShapePlane line;
  line.rect = PsdRect{10, 10, 11, 30};
  line.alpha.assign(20, 0.25f);
  const std::vector<float> thin = StrokeCoverage(stroke, line, rect);
  EXPECT_NEAR(At(thin, rect, 15, 9), 1.0f, 1e-6);
  EXPECT_NEAR(At(thin, rect, 15, 8), 0.25f, 1e-6);
  EXPECT_NEAR(At(thin, rect, 15, 7), 0.0f, 1e-6);
  EXPECT_NEAR(At(thin, rect, 15, 10), 0.75f, 1e-6);  // what the line leaves of its own pixels
}

TEST(DistanceField, NearestPixelsMatchABruteForceSearch) {
  std::mt19937 random(7);
  for (const double density : {0.0, 0.02, 0.3}) {
    const std::int64_t width = 23, height = 17;
    std::vector<std::uint8_t> inside(static_cast<std::size_t>(width * height));
    std::bernoulli_distribution pick(density);
    for (auto& cell : inside) cell = pick(random) ? 1 : 0;
    const NearestPixels near = FindNearest(inside, width, height);
    for (std::int64_t y = 0; y < height; ++y) {
      for (std::int64_t x = 0; x < width; ++x) {
        double best = INFINITY;
        for (std::int64_t i = 0; i < width * height; ++i) {
          if (inside[static_cast<std::size_t>(i)] == 0) continue;
          best = std::min(best, std::hypot(static_cast<double>(i % width - x), static_cast<double>(i / width - y)));
        }
        const auto at = static_cast<std::size_t>(y * width + x);
        if (std::isinf(best)) {
          EXPECT_EQ(near.nearest[at], -1);
          continue;
        }
        ASSERT_GE(near.nearest[at], 0);
        EXPECT_NEAR(near.distance[at], best, 1e-4) << x << "," << y;
        const std::int64_t q = near.nearest[at];
        EXPECT_NEAR(std::hypot(static_cast<double>(q % width - x), static_cast<double>(q / width - y)), best, 1e-4);
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
