// Colour steps: adjustments, greyscale, threshold and dithering.
#pragma once

#include "engine/image.h"
#include "settings/settings.h"

namespace kestrel {

ImagePtr AdjustColours(ImagePtr image, const Settings& settings);
ImagePtr ApplyGreyscale(ImagePtr image, const Settings& settings);
ImagePtr ApplyThreshold(ImagePtr image, const Settings& settings);
ImagePtr ApplyDither(ImagePtr image, const Settings& settings);

}  // namespace kestrel
