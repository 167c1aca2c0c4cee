// Rotating, fitting and placing a watermark bitmap in the image.
#pragma once

#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel {

// The placement settings of one watermark kind (1 text, 2 picture).
struct WatermarkPlacement {
  int boundary = 0;  // 0 the whole image, 1 inside the frame bands
  int position = 8;  // anchor 0..8, TOPLEFT to BOTTOMRIGHT
  int xOffset = 0;
  int yOffset = 0;
  int rotation = 0;
};

WatermarkPlacement WatermarkPlacementFor(const Settings& settings, int kind);

// The area a watermark is fitted and placed in: its size, its top-left corner
// in the image, and the offsets from the anchored edges.
struct WatermarkArea {
  long long width = 0, height = 0;
  long long left = 0, top = 0;
  long long xOffset = 0, yOffset = 0;
};

// The whole image, or with boundary FRAME (and frames switched on) the part
// inside the frame bands.
WatermarkArea WatermarkAreaFor(const Settings& settings, const WatermarkPlacement& placement, int width, int height);

// Rotates by 1 to 359 degrees about the centre into a bitmap large enough for
// the whole result (transparent corners); other angles leave it as it is.
ImagePtr RotateWatermark(ImagePtr bitmap, int angle);

// Cuts the bitmap to what fits the area when it stands xOffset from the left
// and yOffset from the top (whatever the anchor); none when nothing fits.
ImagePtr FitWatermark(ImagePtr bitmap, const WatermarkArea& area);

struct WatermarkPoint {
  long long x = 0;
  long long y = 0;
};

// The top-left corner of a w x h watermark in the image for the anchor.
WatermarkPoint PlaceWatermark(const WatermarkArea& area, int position, long long w, long long h);

}  // namespace kestrel
