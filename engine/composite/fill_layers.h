// The pixels of a fill layer that stores only its settings (16- and 32-bit
// files keep none): a solid colour or a gradient, cut by the layer's vector
// mask, made in the form its decoded channels would have had.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

struct FillPixels {
  PsdRect rect;  // where they lie on the canvas
  // Transparency, then each colour channel: unpacked channel samples at the file's depth.
  std::vector<std::vector<std::uint8_t>> planes;
};

// Where a fill layer's pixels lie: its vector mask's bounds, or the whole
// canvas without one.
PsdRect FillLayerBounds(const PsdLayer& layer, const PsdRect& canvas);

// Draws `layer`'s fill over its vector mask's bounds (the canvas without
// one) in the colour channels of `colours`. Empty when its settings cannot
// be drawn: pattern fills, noise gradients, damaged or unknown settings.
std::optional<FillPixels> DrawFillLayer(std::span<const std::uint8_t> file, const PsdLayer& layer,
                                        const PsdHeader& header, const DescriptorColours& colours);

}  // namespace kestrel
