// The picture rebuilt from a file's layers, for files whose stored merged
// image is a placeholder. Drawn: groups (isolated and pass-through), hidden
// layers left out, opacity and fill opacity, raster masks, layers' vector masks,
// clipping and the blend modes; fill layers stored without pixels, from
// their settings (solid colour and gradient); colour and gradient overlays
// from the layer's style. Other effects, adjustment layers and fills that
// cannot be drawn (patterns) are only counted. CMYK and Lab layers are
// composited in the samples the file stores, then shown through the file's
// colour conversion. The result has the form the merged-image decoder gives
// for the file's mode and depth, with straight alpha when the layers leave
// any transparency.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/bitmap/image.h"
#include "engine/psd/document.h"

namespace kestrel {

struct LayerComposite {
  ImagePtr image;         // null when the layers could not be composited
  std::string problem;    // why, then
  int layersDrawn = 0;
  int effectsSkipped = 0;      // layers whose style was left out, in whole or in part
  std::vector<std::string> effectsNotDrawn;  // the kinds of effect left out, each once
  int adjustmentsSkipped = 0;  // adjustment layers, and fill layers that could not be drawn
  std::vector<std::string> damagedFills;  // the names of fill layers whose settings are damaged
};

// Whether the compositor draws layers of this mode and depth: grey (duotone
// as grey) and RGB at 8, 16 and 32 bits, CMYK and Lab at 8 and 16.
bool CanCompositeLayers(const PsdHeader& header);

// Composites the document's layers.
LayerComposite CompositeLayers(const PsdDocument& document);

}  // namespace kestrel
