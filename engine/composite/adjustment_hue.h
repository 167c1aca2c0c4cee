// Hue/saturation: a pixel's hue turned, its saturation and lightness moved,
// by the master settings and by those of six colour ranges whose edges fall
// off over the hues the file gives; or, colourised, every pixel given one hue
// and saturation at its own lightness.
#pragma once

#include <optional>

#include "engine/composite/adjustment_mix.h"
#include "platform/byte_reader.h"

namespace kestrel {

std::optional<PixelMix> ReadHueSaturation(ByteReader in);

}  // namespace kestrel
