// Small FreeImage bitmaps for the frame and watermark tests, read and written
// with top-down coordinates.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <ostream>
#include <random>

#include "draw/layer.h"
#include "engine/bitmap/image.h"

namespace kestrel::test {

inline ImagePtr MakeFilled24(int width, int height, Rgba colour) {
  ImagePtr image = Adopt(FreeImage_Allocate(width, height, 24));
  for (int y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), y);
    for (int x = 0; x < width; ++x, line += 3) {
      line[FI_RGBA_RED] = colour.r;
      line[FI_RGBA_GREEN] = colour.g;
      line[FI_RGBA_BLUE] = colour.b;
    }
  }
  return image;
}

// A 24-bit image of random noise, the same for the same seed.
inline ImagePtr MakeNoise24(int width, int height, unsigned seed) {
  ImagePtr image = Adopt(FreeImage_Allocate(width, height, 24));
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), y);
    for (int x = 0; x < 3 * width; ++x) line[x] = static_cast<BYTE>(random());
  }
  return image;
}

// Red, green, blue and (for 32 bits) alpha of pixel (x, y), y counted from the top.
inline Rgba PixelAt(FIBITMAP* image, int x, int y) {
  const int bytes = static_cast<int>(FreeImage_GetBPP(image)) / 8;
  const BYTE* p = FreeImage_GetScanLine(image, FreeImage_GetHeight(image) - 1 - y) + bytes * x;
  return Rgba{p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], bytes == 4 ? p[FI_RGBA_ALPHA] : BYTE{255}};
}

inline void SetPixel(FIBITMAP* image, int x, int y, Rgba colour) {
  const int bytes = static_cast<int>(FreeImage_GetBPP(image)) / 8;
  BYTE* p = FreeImage_GetScanLine(image, FreeImage_GetHeight(image) - 1 - y) + bytes * x;
  p[FI_RGBA_RED] = colour.r;
  p[FI_RGBA_GREEN] = colour.g;
  p[FI_RGBA_BLUE] = colour.b;
  if (bytes == 4) p[FI_RGBA_ALPHA] = colour.a;
}

inline bool SamePixels(FIBITMAP* a, FIBITMAP* b) {
  if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) || FreeImage_GetHeight(a) != FreeImage_GetHeight(b) ||
      FreeImage_GetBPP(a) != FreeImage_GetBPP(b)) {
    return false;
  }
  const unsigned bytes = FreeImage_GetLine(a);
  for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y) {
    const BYTE* pa = FreeImage_GetScanLine(a, y);
    const BYTE* pb = FreeImage_GetScanLine(b, y);
    for (unsigned i = 0; i < bytes; ++i) {
      if (pa[i] != pb[i]) return false;
    }
  }
  return true;
}

inline ImagePtr CloneImage(FIBITMAP* image) { return Adopt(FreeImage_Clone(image)); }

}  // namespace kestrel::test

namespace kestrel {
inline void PrintTo(const Rgba& p, std::ostream* os) {
  *os << "(" << int(p.r) << "," << int(p.g) << "," << int(p.b) << "," << int(p.a) << ")";
}
}  // namespace kestrel
