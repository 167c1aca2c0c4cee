// The nearest pixel of a set, for every pixel of a grid, by Euclidean
// distance: what growing or shrinking a shape by a radius needs (strokes,
// bevels). Exact, in time linear in the pixels (two passes of lower
// envelopes of parabolas, one down the columns and one along the rows).
#pragma once

#include <cstdint>
#include <vector>

namespace kestrel {

struct NearestPixels {
  std::vector<float> distance;       // to the nearest pixel of the set; +infinity when the set is empty
  std::vector<std::int64_t> nearest;  // that pixel's index (row by row), or -1
};

// `inside` marks the set over a `width` x `height` grid, row by row.
NearestPixels FindNearest(const std::vector<std::uint8_t>& inside, std::int64_t width, std::int64_t height);

// Coverage of a band reaching `radius` pixels out from the edge of a soft
// shape (`alpha`, 0..1 over the grid): the shape grown by `radius`, its
// growing edge anti-aliased. A pixel's alpha says how far the shape's edge
// lies beyond its centre (half a pixel when opaque, none when half covered).
std::vector<float> Grown(const std::vector<float>& alpha, std::int64_t width, std::int64_t height, double radius);

}  // namespace kestrel
