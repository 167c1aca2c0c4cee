#include "engine/colour/display_samples.h"

#include "engine/bitmap/image.h"

#include <cmath>

namespace kestrel {
namespace {

std::uint8_t Clip8(float v) {
  if (!(v > 0.0f)) return 0;  // also NaN
  if (v >= 1.0f) return 255;
  return static_cast<std::uint8_t>(std::lround(v * 255.0f));
}

}  // namespace

std::uint8_t LinearLightToDisplay(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return Clip8(LinearToSrgb(v));
}

std::uint8_t FloatCoverageToDisplay(float v) { return Clip8(v); }

ImagePtr NarrowToDisplay(ImagePtr image) {
  if (!image) return image;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image.get());
  int channels = 0;
  bool floating = false;
  switch (type) {
    case FIT_UINT16: channels = 1; break;
    case FIT_RGB16: channels = 3; break;
    case FIT_RGBA16: channels = 4; break;
    case FIT_FLOAT: channels = 1, floating = true; break;
    case FIT_RGBF: channels = 3, floating = true; break;
    case FIT_RGBAF: channels = 4, floating = true; break;
    default: return image;
  }
  const unsigned width = FreeImage_GetWidth(image.get());
  const unsigned height = FreeImage_GetHeight(image.get());
  ImagePtr out = Adopt(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), channels * 8));
  if (!out) return out;
  if (channels == 1) {
    RGBQUAD* palette = FreeImage_GetPalette(out.get());
    for (int i = 0; i < 256; ++i) {
      palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
    }
  }
  // The wide types hold R, G, B, A in that order; 8-bit bitmaps in FreeImage's order.
  const int order[4] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE, FI_RGBA_ALPHA};
  for (unsigned y = 0; y < height; ++y) {
    BYTE* to = FreeImage_GetScanLine(out.get(), static_cast<int>(y));
    const BYTE* from = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const std::size_t i = std::size_t{x} * channels + c;
        const int at = channels == 1 ? 0 : order[c];
        if (floating) {
          const float v = reinterpret_cast<const float*>(from)[i];
          to[std::size_t{x} * channels + at] = c == 3 ? FloatCoverageToDisplay(v) : LinearLightToDisplay(v);
        } else {
          to[std::size_t{x} * channels + at] = SixteenBitsToDisplay(reinterpret_cast<const std::uint16_t*>(from)[i]);
        }
      }
    }
  }
  return out;
}

bool CarriesWhiteMatte(FIBITMAP* image) {
  if (image == nullptr || FreeImage_GetImageType(image) != FIT_BITMAP || FreeImage_GetBPP(image) != 32) return false;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  WhiteMatteWitness witness(false);
  for (unsigned y = 0; y < height && witness.Carried(); ++y) {
    const BYTE* p = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, p += 4) {
      const std::uint8_t colour[3] = {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]};
      witness.See(colour, 3, p[FI_RGBA_ALPHA]);
    }
  }
  return witness.Carried();
}

void RemoveWhiteMatte(FIBITMAP* image) {
  ForEachBgraPixel(image, [](BYTE* p) {
    const BYTE a = p[FI_RGBA_ALPHA];
    p[FI_RGBA_RED] = UnmatteFromWhite(p[FI_RGBA_RED], a);
    p[FI_RGBA_GREEN] = UnmatteFromWhite(p[FI_RGBA_GREEN], a);
    p[FI_RGBA_BLUE] = UnmatteFromWhite(p[FI_RGBA_BLUE], a);
  });
}

}  // namespace kestrel
