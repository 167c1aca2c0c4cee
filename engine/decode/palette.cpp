#include "engine/decode/palette.h"

namespace kestrel {

std::optional<IndexedPalette> PaletteFromColourData(std::span<const std::uint8_t> colourData) {
  if (colourData.size() != kPsdPaletteBytes) return std::nullopt;
  IndexedPalette palette{};
  for (std::size_t i = 0; i < palette.size(); ++i) {
    palette[i].rgbRed = colourData[i];
    palette[i].rgbGreen = colourData[256 + i];
    palette[i].rgbBlue = colourData[512 + i];
    palette[i].rgbReserved = 0;
  }
  return palette;
}

bool ApplyIndexedPalette(FIBITMAP* image, const IndexedPalette& palette) {
  if (image == nullptr || FreeImage_GetImageType(image) != FIT_BITMAP || FreeImage_GetBPP(image) != 8) return false;
  RGBQUAD* target = FreeImage_GetPalette(image);
  if (target == nullptr || FreeImage_GetColorsUsed(image) != palette.size()) return false;
  for (std::size_t i = 0; i < palette.size(); ++i) target[i] = palette[i];
  return true;
}

}  // namespace kestrel
