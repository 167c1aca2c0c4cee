// Blend-if: a layer shows only where its own values and the values beneath
// it lie within the ranges the layer keeps, fading in between a split
// slider's halves. Each pixel's coverage is cut by the product of what every
// range lets through: the grey composite's (RGB files: the luminosity,
// 0.3 R + 0.59 G + 0.11 B) and each colour channel's, as stored.
#pragma once

#include <cstdint>
#include <span>

#include "engine/psd/layer_records.h"

namespace kestrel {

// How much of a value (a fraction) a range lets through, 0..1.
float BlendRangePasses(const PsdBlendRange& range, float value);

// Whether any of the layer's ranges can hide a pixel.
bool BlendIfCuts(const PsdLayer& layer);

// Cuts a row's coverage by the layer's ranges: `source` the layer's colour,
// `backdrop` the colour beneath, `channels` fractions to a pixel in file
// order, in a file of colour mode `mode`.
void CutByBlendIf(const PsdLayer& layer, int mode, int channels, const float* source, const float* backdrop,
                  std::span<float> coverage);

}  // namespace kestrel
