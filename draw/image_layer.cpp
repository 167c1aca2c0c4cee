#include "draw/image_layer.h"

#include "draw/layer.h"

namespace kestrel {
namespace {

// The picture as 24-bit colour or 32-bit colour with alpha.
ImagePtr ReadPicture(const std::string& path) {
  const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
  if (format != FIF_BMP && format != FIF_ICO && format != FIF_JPEG && format != FIF_PNG) return nullptr;
  // Icons with a transparency mask get it as their alpha channel.
  ImagePtr picture = Adopt(FreeImage_Load(format, path.c_str(), format == FIF_ICO ? ICO_MAKEALPHA : 0));
  if (!picture || !FreeImage_HasPixels(picture.get())) return nullptr;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(picture.get());
  const unsigned bpp = FreeImage_GetBPP(picture.get());
  if (type == FIT_BITMAP && bpp == 32) {
    // A 32-bit BMP whose fourth bytes are all zero stores no alpha: they are
    // padding, and the picture is opaque.
    if (format == FIF_BMP && FreeImage_GetColorType(picture.get()) == FIC_RGBALPHA) {
      bool anyAlpha = false;
      const unsigned width = FreeImage_GetWidth(picture.get()), height = FreeImage_GetHeight(picture.get());
      for (unsigned y = 0; y < height && !anyAlpha; ++y) {
        const BYTE* line = FreeImage_GetScanLine(picture.get(), y);
        for (unsigned x = 0; x < width; ++x) anyAlpha = anyAlpha || line[4 * x + FI_RGBA_ALPHA] != 0;
      }
      if (!anyAlpha) return Adopt(FreeImage_ConvertTo24Bits(picture.get()));
    }
    return picture;
  }
  const bool alpha = type == FIT_RGBA16 || (type == FIT_BITMAP && FreeImage_IsTransparent(picture.get()));
  return Adopt(alpha ? FreeImage_ConvertTo32Bits(picture.get()) : FreeImage_ConvertTo24Bits(picture.get()));
}

}  // namespace

ImagePtr MakeImageLayer(const Settings& settings) {
  ImagePtr picture = ReadPicture(settings.Text(SettingId::WmImage));
  if (!picture) return nullptr;
  const unsigned width = FreeImage_GetWidth(picture.get()), height = FreeImage_GetHeight(picture.get());
  const bool hasAlpha = FreeImage_GetBPP(picture.get()) == 32;
  const unsigned bytes = hasAlpha ? 4 : 3;
  const int opacity = ClampOpacity(settings.Int(SettingId::WmImageOpacity));
  const bool grey = settings.IsOn(SettingId::WmImageGreyscale);

  ImagePtr layer =
      Adopt(FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
  if (!layer) return nullptr;
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* src = FreeImage_GetScanLine(picture.get(), y);
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
