#include "engine/composite/compositor.h"

#include <cstdint>

#include "engine/composite/canvas.h"
#include "engine/composite/finished_picture.h"
#include "engine/composite/layer_tree.h"
#include "engine/composite/node_drawer.h"
#include "engine/composite/rects.h"
#include "engine/composite/stored_colour_display.h"

namespace kestrel {
namespace {

// The colour channels the canvas keeps; 0 when the mode is not composited.
int ColourChannels(const PsdHeader& header) {
  if (header.colourMode == kPsdModeRgb) return 3;
  if (header.colourMode == kPsdModeGreyscale || header.colourMode == kPsdModeDuotone) return 1;
  if (CompositesThroughDisplayColour(header)) return StoredColourChannels(header);
  return 0;
}

// T: the canvas sample for the file's depth.
template <typename T>
void Composite(const PsdDocument& document, LayerComposite& result) {
  const int n = ColourChannels(document.header);
  const PsdRect picture = PictureRect(document.header);
  // A grey or RGB canvas is drawn in the bitmap handed over.
  Canvas<T> canvas = n == 1 || n == 3 ? Canvas<T>::OnBitmap(picture, n) : Canvas<T>(picture, n);
  if (!canvas.Allocated()) {
    result.problem = "no memory for the composited picture";
    return;
  }
  if (!NodeDrawer<T>(document, n, result).Draw(BuildLayerTree(document.layers.layers), canvas)) return;
  result.image = FinishPicture(canvas, document);
  if (!result.image) result.problem = "no memory for the composited picture";
}

}  // namespace

bool CanCompositeLayers(const PsdHeader& header) {
  return ColourChannels(header) > 0 && (header.depth == 8 || header.depth == 16 || header.depth == 32);
}

LayerComposite CompositeLayers(const PsdDocument& document) {
  const PsdHeader& header = document.header;
  const PsdLayers& layers = document.layers;
  LayerComposite result;
  if (!CanCompositeLayers(header)) {
    result.problem = "layers of this colour mode and depth are not composited";
    return result;
  }
  if (layers.layers.empty()) {
    result.problem = layers.problem.empty() ? "the file has no layers" : layers.problem;
    return result;
  }
  if (header.depth == 8) Composite<std::uint8_t>(document, result);
  else if (header.depth == 16) Composite<std::uint16_t>(document, result);
  else Composite<float>(document, result);
  return result;
}

}  // namespace kestrel
