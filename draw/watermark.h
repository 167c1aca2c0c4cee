// Text and picture watermarks.
#pragma once

#include "engine/bitmap/image.h"
#include "model/app_state.h"

namespace kestrel {

// Lays the text (DO-WATERMARK 1) or picture (2) watermark over the image;
// with a watermark switched on the image always leaves as 24 bits per pixel.
// Only the watermark's own pixels are blended. width and height are the
// image size right after the resize step (the image's own size).
ImagePtr DrawWatermark(ImagePtr image, AppState& state, FIBITMAP* picture, unsigned width, unsigned height);

}  // namespace kestrel
