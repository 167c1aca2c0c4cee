// Straight-alpha RGBA layers: the drawing surface of frames and watermarks,
// the constant-opacity source-over that lays one onto another, the copy into
// a FreeImage bitmap and the blend of such a bitmap over the image.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/bitmap/image.h"
#include "engine/confine/picture_header.h"  // kMaxLayerPixels

namespace kestrel {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// Opacities are 0..255; a setting outside that range is held to it (a larger
// value would push alpha past 255 and wrap).
inline int ClampOpacity(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

// Opaque colour from packed colour text (red + green*256 + blue*65536).
Rgba ColourFromPacked(std::uint32_t packed, int alpha);

// A w x h layer with straight (not premultiplied) alpha, rows top-down.
struct Layer {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;
  Rgba& At(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
  const Rgba& At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// A transparent (0, 0, 0, 0) layer; false when the size is empty or too large.
bool MakeLayer(Layer& layer, int width, int height);

// One source pixel laid over a target pixel with a constant opacity: the
// source alpha becomes opacity * a / 255; a zero result leaves the target,
// otherwise colour and alpha follow straight-alpha source-over.
void BlendPixel(Rgba& target, Rgba source, int opacity);

// Every pixel of `source` laid over the same place of `target` (same size).
void DrawLayer(Layer& target, const Layer& source, int opacity);

// Coverage 0..255 per pixel of a w x h area, rows top-down.
struct Coverage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> values;
  std::uint8_t At(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
};

// Paints an opaque colour through a coverage mask: each pixel gets the colour
// with alpha = coverage, laid over the layer by the straight-alpha rule.
// The coverage may cover a window of the layer with its top-left pixel at
// (x0, y0); it must lie inside the layer.
void FillThroughCoverage(Layer& layer, const Coverage& coverage, Rgba colour, int x0 = 0, int y0 = 0);

// The layer as a 32-bit FreeImage bitmap with straight alpha (a plain copy).
ImagePtr LayerToBitmap(const Layer& layer);

// Blends a 32-bit bitmap over the 24-bit image with its top-left corner at
// (x, y), in place, touching only the covered pixels. Per channel: alpha 0
// keeps the image, 255 takes the layer, else (a*fg + (255-a)*bg) / 256 --
// the same rule as FreeImage_Composite, so a full-size transparent canvas
// composited over the image gives the same result. The bitmap must lie
// wholly inside the image; false (nothing drawn) otherwise.
bool CompositeOver(FIBITMAP* image, FIBITMAP* layer, int x, int y);

}  // namespace kestrel
