// The colour table of an indexed Photoshop file. The file keeps it in its
// colour mode data: 768 bytes, all reds, then all greens, then all blues.
// FreeImage applies it only when the file also holds the colour-count resource
// (1046) and otherwise loads the image grey; most writers other than Photoshop
// leave that resource out, so the table is applied here from the file itself.
#pragma once

#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrel {

inline constexpr std::size_t kPsdPaletteBytes = 768;

using IndexedPalette = std::array<RGBQUAD, 256>;

// The palette held by colour mode data; nothing when it is not exactly 768 bytes.
std::optional<IndexedPalette> PaletteFromColourData(std::span<const std::uint8_t> colourData);

// Puts the palette into an 8-bit palettised bitmap; false (and no change) for any other bitmap.
bool ApplyIndexedPalette(FIBITMAP* image, const IndexedPalette& palette);

}  // namespace kestrel
