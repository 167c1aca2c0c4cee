// Small FreeImage bitmaps built inside the tests, and ways to compare them.
#pragma once

#include <FreeImage.h>

#include <cstdio>
#include <cstring>

#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel::test {

// Command-line defaults, as a step sees them when no option is given.
inline Settings DefaultSettings() {
  Settings settings;
  SetDefaultSettings(settings, true, 0, "psd", "bmp");
  return settings;
}

// A bitmap of the given type and depth whose bytes follow a fixed, busy
// pattern; palettised depths get a colour palette (greyscale with `grey`).
inline ImagePtr MakeBitmap(unsigned width, unsigned height, unsigned bpp, FREE_IMAGE_TYPE type = FIT_BITMAP,
                           bool grey = false) {
  ImagePtr image = Adopt(FreeImage_AllocateT(type, static_cast<int>(width), static_cast<int>(height),
                                             static_cast<int>(bpp)));
  if (!image) return image;
  const unsigned bytes = (width * bpp + 7) / 8;
  for (unsigned y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned i = 0; i < bytes; ++i) line[i] = static_cast<BYTE>((i * 37 + y * 101 + (i * y) % 7) & 0xFF);
  }
  if (type == FIT_FLOAT || type == FIT_RGBF || type == FIT_RGBAF) {
    // Keep float samples finite and within 0..1.
    for (unsigned y = 0; y < height; ++y) {
      auto* line = reinterpret_cast<float*>(FreeImage_GetScanLine(image.get(), static_cast<int>(y)));
      for (unsigned i = 0; i < bytes / 4; ++i) line[i] = static_cast<float>((i * 37 + y * 11) % 100) / 100.0f;
    }
  }
  if (RGBQUAD* palette = FreeImage_GetPalette(image.get())) {
    const unsigned colours = FreeImage_GetColorsUsed(image.get());
    for (unsigned i = 0; i < colours; ++i) {
      const auto level = static_cast<BYTE>(colours == 1 ? 0 : i * 255 / (colours - 1));
      palette[i] = grey ? RGBQUAD{level, level, level, 0}
                        : RGBQUAD{static_cast<BYTE>(i * 40), static_cast<BYTE>(255 - i), level, 0};
    }
  }
  return image;
}

// Red, green and blue of a 24- or 32-bit pixel, x and y counted from the
// top-left corner as the picture is seen.
struct Rgb {
  int red, green, blue;
  bool operator==(const Rgb&) const = default;
};

inline Rgb PixelAt(FIBITMAP* image, unsigned x, unsigned y) {
  const unsigned height = FreeImage_GetHeight(image);
  const BYTE* p = FreeImage_GetScanLine(image, static_cast<int>(height - 1 - y)) + x * FreeImage_GetBPP(image) / 8;
  return {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]};
}

inline void SetPixel(FIBITMAP* image, unsigned x, unsigned y, Rgb colour) {
  const unsigned height = FreeImage_GetHeight(image);
  BYTE* p = FreeImage_GetScanLine(image, static_cast<int>(height - 1 - y)) + x * FreeImage_GetBPP(image) / 8;
  p[FI_RGBA_RED] = static_cast<BYTE>(colour.red);
  p[FI_RGBA_GREEN] = static_cast<BYTE>(colour.green);
  p[FI_RGBA_BLUE] = static_cast<BYTE>(colour.blue);
}

// Same size, type, depth, pixel bytes (padding excluded) and palette.
inline bool SameBitmap(FIBITMAP* a, FIBITMAP* b) {
  if (a == nullptr || b == nullptr) return a == b;
  const unsigned width = FreeImage_GetWidth(a), height = FreeImage_GetHeight(a), bpp = FreeImage_GetBPP(a);
  if (width != FreeImage_GetWidth(b) || height != FreeImage_GetHeight(b) || bpp != FreeImage_GetBPP(b) ||
      FreeImage_GetImageType(a) != FreeImage_GetImageType(b)) {
    return false;
  }
  const unsigned bytes = (width * bpp + 7) / 8;
  for (unsigned y = 0; y < height; ++y) {
    if (std::memcmp(FreeImage_GetScanLine(a, static_cast<int>(y)), FreeImage_GetScanLine(b, static_cast<int>(y)),
                    bytes) != 0) {
      return false;
    }
  }
  const unsigned colours = FreeImage_GetColorsUsed(a);
  if (colours != FreeImage_GetColorsUsed(b)) return false;
  return colours == 0 ||
         std::memcmp(FreeImage_GetPalette(a), FreeImage_GetPalette(b), colours * sizeof(RGBQUAD)) == 0;
}

// A copy for a reference computation next to the step under test.
inline ImagePtr CloneOf(FIBITMAP* image) { return Adopt(FreeImage_Clone(image)); }

// A bitmap with a header but no pixels (read back from a BMP in memory with
// FIF_LOAD_NOPIXELS): every library call that reads pixels fails on it, which
// stands for a conversion that went wrong.
inline ImagePtr HeaderOnly(unsigned width, unsigned height, unsigned bpp) {
  ImagePtr full = Adopt(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), static_cast<int>(bpp)));
  FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
  FreeImage_SaveToMemory(FIF_BMP, full.get(), memory, 0);
  FreeImage_SeekMemory(memory, 0, SEEK_SET);
  ImagePtr header = Adopt(FreeImage_LoadFromMemory(FIF_BMP, memory, FIF_LOAD_NOPIXELS));
  FreeImage_CloseMemory(memory);
  return header;
}

}  // namespace kestrel::test
