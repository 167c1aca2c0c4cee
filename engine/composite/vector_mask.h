// A layer's vector mask drawn as coverage: its closed Bézier subpaths are
// filled by the even-odd rule, with antialiased edges (exact across each
// row, eight samples down each pixel).
#pragma once

#include <vector>

#include "engine/psd/layer_records.h"

namespace kestrel {

// Coverage in 0..1 of each pixel of `area` (rows top to bottom), inverted
// when the mask says so.
std::vector<float> RasteriseVectorMask(const PsdVectorMask& mask, const PsdRect& area);

// Whether the layer's vector mask cuts its stored pixels: a fill or shape
// layer's pixels are the shape drawn already, edge antialiased, and cutting
// them again would thin that edge.
bool VectorMaskCutsPixels(const PsdLayer& layer);

// The pixels the mask's paths touch, within `canvas`; empty when none.
PsdRect VectorMaskBounds(const PsdVectorMask& mask, const PsdRect& canvas);

}  // namespace kestrel
