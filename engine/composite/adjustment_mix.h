// The adjustments that mix an RGB pixel's channels together: selective colour,
// the channel mixer, the photo filter and vibrance. Each is read from its settings block into a function
// that changes pixels of three fractions in place.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "engine/colour/descriptor_colour.h"
#include "engine/psd/descriptor.h"
#include "platform/byte_reader.h"

namespace kestrel {

using PixelMix = std::function<void(float* rgb, std::size_t pixels)>;

// Selective colour: per colour range (reds, yellows, greens, cyans, blues,
// magentas, whites, neutrals, blacks) the cyan, magenta, yellow and black
// to add, relative to the ink there is or absolute.
std::optional<PixelMix> ReadSelectiveColour(ByteReader in);

// Channel mixer: each output channel a weighted sum of the inputs plus a
// constant; monochrome gives every channel the first mix.
std::optional<PixelMix> ReadChannelMixer(ByteReader in);

// Photo filter: the light through a filter of a colour (converted into the
// file's RGB by `colours`) at a density, keeping each pixel's luminance or not.
std::optional<PixelMix> ReadPhotoFilter(ByteReader in, const DescriptorColours& colours);

// Vibrance: the colour of pixels that have little raised (or lowered) more
// than of those that have much, then the colour of all of them, by the
// settings' "vibrance" and "Strt" (-100..100 each).
PixelMix ReadVibrance(const DescriptorValue& settings);

}  // namespace kestrel
