// Geometry steps: rotation, resize and flips.
#pragma once

#include "engine/image.h"
#include "settings/settings.h"

namespace kestrel {

ImagePtr RotateImage(ImagePtr image, const Settings& settings);
ImagePtr ResizeImage(ImagePtr image, const Settings& settings, unsigned width, unsigned height);
// Flips in place.
void FlipImage(FIBITMAP* image, const Settings& settings);

}  // namespace kestrel
