// Dissolve shows each pixel of a layer whole or not at all: where a fixed
// noise over the picture lies under the pixel's coverage (its alpha cut by
// masks and opacity) it is laid fully, elsewhere not. Over an area the share
// of pixels shown is the mean coverage, which is what the mode keeps of the
// layer; the speckle itself is this noise's, not any other program's.
#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// The noise at pixel (x, y) of the picture, in [0, 1): the same for every
// layer and every run, so that a picture draws alike each time.
float DissolveNoise(std::int64_t x, std::int64_t y);

// Turns row y's coverage, starting at picture column `left`, to 0 or 1.
void DissolveCoverage(std::int64_t y, std::int64_t left, std::span<float> coverage);

}  // namespace kestrel
