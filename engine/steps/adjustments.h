// Colour steps: adjustments, greyscale, threshold and dithering. Each converts
// an image it cannot take directly to 24 bits first.
#pragma once

#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel {

// Brightness, contrast, gamma and inversion, in place where the depth allows.
ImagePtr AdjustColours(ImagePtr image, const Settings& settings);
// An 8-bit greyscale image.
ImagePtr ApplyGreyscale(ImagePtr image, const Settings& settings);
// A 1-bit image split at the low 8 bits of THRESHOLD.
ImagePtr ApplyThreshold(ImagePtr image, const Settings& settings);
// A 1-bit image dithered with the DITHER algorithm.
ImagePtr ApplyDither(ImagePtr image, const Settings& settings);

// The library's dithering algorithm for a DITHER keyword number (FS for any
// number outside the set).
FREE_IMAGE_DITHER DitherAlgorithm(int keyword);

}  // namespace kestrel
