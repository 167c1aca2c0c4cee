// The choice between the merged image a file stores and the picture rebuilt
// from its layers. Photoshop files saved without their compatibility image,
// and files of several other writers, store a blank or lettered placeholder
// there and say so in image resource 1057; the layers are then the picture.
// Runs in the confined decoder, over the document read from the file.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <span>
#include <string>

#include "engine/psd/document.h"

namespace kestrel {

// What the rebuild did, for the one line the user is told.
struct LayerRebuildNote {
  std::uint32_t rebuilt = 0;  // 1 when the picture came from the layers
  std::uint32_t layers = 0;
  std::uint32_t effectsSkipped = 0;      // layers with effects not drawn
  std::uint32_t effectKindsNotDrawn = 0;  // which kinds (EffectKindBits)
  std::uint32_t adjustmentsSkipped = 0;
  std::uint32_t kindsLeftOut = 0;  // the kinds of those, as bits (engine/composite/adjustment_kinds.h)
  std::uint32_t placeholderKept = 0;  // 1 when the placeholder is all there is
  // Not 0 when the layers were to be drawn but their canvases need more than
  // the child was given: what they need, in MiB (the parent decides).
  std::uint32_t compositorMiBNeeded = 0;
};

// The picture to hand over: `merged` (the decoder's image of the stored merged
// data, or null) unless it is a placeholder or missing and the layers can be
// composited; then the composite, and `merged` is unloaded, and `why` names
// the fill layers left out for damaged settings. Null when there is neither;
// `why` then says what was wrong with the layers, if anything.
FIBITMAP* ChoosePicture(FIBITMAP* merged, const PsdDocument& document, LayerRebuildNote& note, std::string& why);

// The line for the user: "the picture was rebuilt from 3 layers (effects not
// drawn on 1 layer: stroke; 2 adjustment or fill layers not drawn: vibrance
// and pattern fill)" and then `why` (the fill
// layers whose settings are damaged), or that the placeholder was kept, and
// why the layers could not be composited when `why` says it.
std::string DescribeRebuild(const LayerRebuildNote& note, const std::string& why = {});

// The longest reason the decoder hands over with its note.
inline constexpr std::uint32_t kMaxRebuildReasonBytes = 512;

}  // namespace kestrel
