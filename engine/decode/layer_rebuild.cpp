#include "engine/decode/layer_rebuild.h"

#include "engine/composite/adjustment_kinds.h"
#include "engine/composite/compositor.h"
#include "engine/composite/effect_kinds.h"

#include <algorithm>
#include <vector>

namespace kestrel {
namespace {

std::string Count(std::uint32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "the settings of fill layer "Sky" are damaged", or of several.
std::string DamagedFillsLine(const std::vector<std::string>& names) {
  if (names.empty()) return {};
  std::string line = names.size() == 1 ? "the settings of fill layer " : "the settings of fill layers ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) line += i + 1 == names.size() ? " and " : ", ";
    line += "\"" + names[i] + "\"";
  }
  return line + " are damaged";
}

}  // namespace

FIBITMAP* ChoosePicture(FIBITMAP* merged, const PsdDocument& document, LayerRebuildNote& note, std::string& why) {
  if (merged != nullptr && document.realMergedImage) return merged;
  const PsdLayers& layers = document.layers;
  LayerComposite composite;
  if (!layers.layers.empty()) composite = CompositeLayers(document);
  // Layers of which none could be drawn (all hidden, or only group markers
  // left by a broken section) make a blank picture, not the file's picture.
  if (composite.image && composite.layersDrawn == 0) {
    composite.image.reset();
    composite.problem = "none of its " + Count(static_cast<std::uint32_t>(layers.layers.size()), "layer", "layers") +
                        " could be drawn";
  }
  if (!composite.image) {
    why = layers.layers.empty() ? layers.problem : composite.problem;
    if (merged != nullptr) note.placeholderKept = 1;
    return merged;
  }
  if (merged != nullptr) FreeImage_Unload(merged);
  note.rebuilt = 1;
  note.layers = static_cast<std::uint32_t>(composite.layersDrawn);
  note.effectsSkipped = static_cast<std::uint32_t>(composite.effectsSkipped);
  note.effectKindsNotDrawn = EffectKindBits(composite.effectsNotDrawn);
  note.adjustmentsSkipped = static_cast<std::uint32_t>(composite.adjustmentsSkipped);
  note.kindsLeftOut = composite.kindsLeftOut;
  why = DamagedFillsLine(composite.damagedFills);
  return composite.image.release();
}

std::string DescribeRebuild(const LayerRebuildNote& note, const std::string& why) {
  if (note.placeholderKept != 0) {
    return "the merged image is marked as a placeholder and the layers could not be composited" +
           (why.empty() ? std::string() : " (" + why + ")") + ": the placeholder was converted";
  }
  std::string line = "the picture was rebuilt from " + Count(note.layers, "layer", "layers");
  const std::vector<std::string> kinds = EffectKindNames(note.effectKindsNotDrawn);
  if (!kinds.empty() || note.effectsSkipped > 0 || note.adjustmentsSkipped > 0) {
    std::vector<std::string> parts;
    if (!kinds.empty()) {
      std::string part = "effects not drawn on " + Count(std::max(note.effectsSkipped, 1u), "layer", "layers") + ": ";
      for (std::size_t i = 0; i < kinds.size(); ++i) part += (i > 0 ? ", " : "") + kinds[i];
      parts.push_back(part);
    } else if (note.effectsSkipped > 0) {
      parts.push_back(Count(note.effectsSkipped, "layer style", "layer styles") + " not drawn");
    }
    if (note.adjustmentsSkipped > 0) {
      std::string part = Count(note.adjustmentsSkipped, "adjustment or fill layer", "adjustment or fill layers") +
                         " not drawn";
      // Unknown bits from the child name nothing.
      const std::string adjustments = AdjustmentKindNames(note.kindsLeftOut);
      if (!adjustments.empty()) part += ": " + adjustments;
      parts.push_back(part);
    }
    line += " (" + parts[0] + (parts.size() > 1 ? "; " + parts[1] : "") + ")";
  }
  if (!why.empty()) line += "; " + why;
  return line;
}

}  // namespace kestrel
