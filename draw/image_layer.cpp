#include "draw/image_layer.h"

#include "draw/layer.h"

namespace kestrel {

ImagePtr MakeImageLayer(FIBITMAP* picture, const Settings& settings) {
  if (picture == nullptr || FreeImage_GetImageType(picture) != FIT_BITMAP) return nullptr;
  const unsigned bpp = FreeImage_GetBPP(picture);
  if (bpp != 24 && bpp != 32) return nullptr;
  const unsigned width = FreeImage_GetWidth(picture), height = FreeImage_GetHeight(picture);
  const bool hasAlpha = bpp == 32;
  const unsigned bytes = hasAlpha ? 4 : 3;
  const int opacity = ClampOpacity(settings.Int(SettingId::WmImageOpacity));
  const bool grey = settings.IsOn(SettingId::WmImageGreyscale);

  ImagePtr layer =
      Adopt(FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
  if (!layer) return nullptr;
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* src = FreeImage_GetScanLine(picture, y);
    BYTE* dst = FreeImage_GetScanLine(layer.get(), y);
    for (unsigned x = 0; x < width; ++x, src += bytes, dst += 4) {
      BYTE r = src[FI_RGBA_RED], g = src[FI_RGBA_GREEN], b = src[FI_RGBA_BLUE];
      if (grey) r = g = b = static_cast<BYTE>((77 * r + 150 * g + 29 * b) / 256);
      dst[FI_RGBA_RED] = r;
      dst[FI_RGBA_GREEN] = g;
      dst[FI_RGBA_BLUE] = b;
      dst[FI_RGBA_ALPHA] = static_cast<BYTE>(hasAlpha ? opacity * src[FI_RGBA_ALPHA] / 255 : opacity);
    }
  }
  return layer;
}

}  // namespace kestrel
