#include "engine/decode/layer_alone.h"

#include "engine/composite/compositor.h"

namespace kestrel {

std::optional<PsdDocument> DocumentOfOneLayer(const PsdDocument& document, std::size_t index) {
  const std::vector<PsdLayer>& layers = document.layers.layers;
  if (index >= layers.size() || layers[index].section == PsdSection::GroupEnd) return std::nullopt;
  std::size_t first = index;
  const PsdSection section = layers[index].section;
  if (section == PsdSection::OpenFolder || section == PsdSection::ClosedFolder) {
    // The group's end marker is the first one below it not taken by a group inside it.
    int inside = 0;
    for (std::size_t below = index; below-- > 0;) {
      const PsdSection other = layers[below].section;
      if (other == PsdSection::OpenFolder || other == PsdSection::ClosedFolder) ++inside;
      if (other != PsdSection::GroupEnd) continue;
      if (inside == 0) {
        first = below;
        break;
      }
      --inside;
    }
  }
  PsdDocument alone = document;
  alone.layers.layers.assign(layers.begin() + static_cast<std::ptrdiff_t>(first),
                             layers.begin() + static_cast<std::ptrdiff_t>(index) + 1);
  // Chosen, it is drawn even when hidden, and on its own rather than clipped to a layer below.
  PsdLayer& top = alone.layers.layers.back();
  top.hidden = false;
  top.clipping = false;
  alone.realMergedImage = false;
  return alone;
}

ImageResult DrawLayerAlone(const PsdDocument& document, std::size_t index) {
  const std::optional<PsdDocument> alone = DocumentOfOneLayer(document, index);
  if (!alone) return FailedImage("the file has no layer " + std::to_string(index));
  if (!CanCompositeLayers(document.header)) return FailedImage("the layers of this colour mode and depth are not drawn");
  LayerComposite composite = CompositeLayers(*alone);
  if (!composite.image) return FailedImage(composite.problem.empty() ? "the layer could not be drawn" : composite.problem);
  ImageResult result;
  result.image = std::move(composite.image);
  return result;
}

}  // namespace kestrel
