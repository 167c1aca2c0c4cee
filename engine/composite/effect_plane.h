// What layer effects work from and what they lay down. An effect reads the
// shape of its layer (the layer's opacity over a rectangle of the picture)
// and gives paint: where it covers, in what colour, in which blend mode and
// at what opacity. The compositor lays each effect's paint in Photoshop's
// order around the layer's own pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/composite/blend_modes.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

// A layer's opacity over `rect`, 0..1, row by row; nothing outside `rect`.
struct ShapePlane {
  PsdRect rect;
  std::vector<float> alpha;  // rect.Width() * rect.Height()
  PsdRect bounds;            // the layer's own box within it (what an aligned gradient or pattern spans)

  float At(std::int64_t x, std::int64_t y) const {
    if (x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom) return 0;
    return alpha[static_cast<std::size_t>((y - rect.top) * rect.Width() + (x - rect.left))];
  }
};

// One effect's paint over `rect`: its coverage (0..1) of each pixel and its
// colour in the file's samples as fractions, either one colour for the whole
// effect (`channels` values) or one per pixel (interleaved, `channels` to a
// pixel, row by row).
struct EffectPaint {
  PsdRect rect;
  std::vector<float> coverage;  // rect.Width() * rect.Height()
  std::vector<float> colour;
  bool colourPerPixel = false;
  BlendMode mode = BlendMode::Normal;
  float opacity = 1;
  // Paint beneath the layer that its shape hides where the layer's fill
  // opacity would let it show (a drop shadow the layer knocks out).
  bool knockedOutByLayer = false;
  // Paint over the layer that adds no opacity of its own: it colours the
  // layer's pixels within its shape as if they were opaque (an inside stroke
  // on a soft edge), and the shape's alpha then thins it once.
  bool withinShape = false;
};

}  // namespace kestrel
