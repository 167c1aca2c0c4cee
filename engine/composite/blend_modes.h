// The blend modes of Photoshop layers: how a layer's colour (the source, Cs)
// combines with the colour beneath it (the backdrop, Cb), and how the result
// is laid over the backdrop by the layer's coverage. Colours are straight
// (not premultiplied), in 0..1 (32-bit files may go beyond 1).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/byte_reader.h"

namespace kestrel {

enum class BlendMode {
  Normal, Dissolve, Darken, Multiply, ColourBurn, LinearBurn, DarkerColour, Lighten, Screen, ColourDodge,
  LinearDodge, LighterColour, Overlay, SoftLight, HardLight, VividLight, LinearLight, PinLight, HardMix,
  Difference, Exclusion, Subtract, Divide, Hue, Saturation, Colour, Luminosity, PassThrough
};

// The mode a record's four-character key names; an unknown key draws as normal.
BlendMode BlendModeFromKey(FourCC key);

// The mode a layer style's descriptor names ("Nrml", "linearBurn"...); empty when unknown.
std::optional<BlendMode> BlendModeFromName(std::string_view name);

// What the colour channels are to the modes that mix whole colours (hue,
// saturation, colour, luminosity, darker and lighter colour): grey, RGB and
// CMYK samples are light (CMYK as stored, 1 being no ink); Lab samples are
// lightness and a plane of colour, a and b centred on 128/255 (8 bits) or
// 32768/65535 (16 bits).
enum class BlendSpace { Light, Lab8, Lab16 };

// Lays `count` source pixels over the backdrop pixels, in place. Colours hold
// `channels` values per pixel (1: grey, 3: RGB or Lab, 4: CMYK); alphas one.
// `coverage` is the source's alpha after its mask and opacity.
void BlendPixels(BlendMode mode, int channels, float* backdropColour, float* backdropAlpha,
                 const float* sourceColour, const float* coverage, std::uint64_t count,
                 BlendSpace space = BlendSpace::Light);

}  // namespace kestrel
