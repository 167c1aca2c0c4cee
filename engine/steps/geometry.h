// Geometry steps: rotation, resize and flips.
#pragma once

#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel {

// The part [left, right) x [top, bottom) of the image, counted from its top
// left corner and cut to the image; null when nothing of it is left.
ImagePtr CropImage(ImagePtr image, int left, int top, int right, int bottom);

// Rotates by ROTATION degrees (1..359) when rotation is on: SIMPLE keeps the
// whole picture on a background of ROTATION-BACK-COLOR, ADVANCED turns it
// about its centre within its own size.
ImagePtr RotateImage(ImagePtr image, const Settings& settings);

// Resamples to WIDTH x HEIGHT (pixels or percent of width x height), keeping
// the aspect ratio when asked; LARGEIMAGES never enlarges a smaller image.
ImagePtr ResizeImage(ImagePtr image, const Settings& settings, unsigned width, unsigned height);

// Flips in place.
void FlipImage(FIBITMAP* image, const Settings& settings);

// A target size: `value` pixels (unit 0) or `value` percent of `current`
// (unit 1, rounded half to even); 0 for any other unit.
int TargetDimension(int value, int unit, unsigned current);

}  // namespace kestrel
