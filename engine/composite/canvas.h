// A canvas the layers are drawn on: pixels over a rectangle of the picture,
// straight colour with its channels interleaved and alpha in a plane of its
// own. 8- and 16-bit files keep samples of their own depth between layers, as
// Photoshop does; 32-bit files keep floats. The canvas of the whole picture
// of a grey or RGB file keeps its colour in the bitmap handed over at the
// end, in that bitmap's channel order, so that no second copy of it is made.
// Rows go in and out as fractions, the colour channels in file order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/bitmap/image.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

template <typename T>
struct Canvas {
  PsdRect rect;
  int channels = 0;
  std::vector<T> colour;  // empty when the colour lives in `bitmap`
  std::vector<T> alpha;
  ImagePtr bitmap;
  int colourOffset[4] = {0, 1, 2, 3};  // where colour channel c lies within a pixel

  Canvas() = default;
  // A canvas of its own, transparent throughout.
  Canvas(const PsdRect& r, int c)
      : rect(r), channels(c), colour(Count() * static_cast<std::size_t>(c), T{}), alpha(Count(), T{}) {}
  // A transparent canvas whose colour lives in a bitmap of the form the
  // merged-image decoder gives for one or three channels: 8-bit grey (with
  // its palette) or BGR, UINT16 or RGB16, FLOAT or RGBF.
  static Canvas OnBitmap(const PsdRect& rect, int channels);

  // False when its memory could not be had.
  bool Allocated() const {
    return alpha.size() == Count() && (bitmap || colour.size() == Count() * static_cast<std::size_t>(channels));
  }
  std::size_t Count() const { return static_cast<std::size_t>(rect.Width() * rect.Height()); }
  std::uint64_t Index(std::int64_t x, std::int64_t y) const {
    return static_cast<std::uint64_t>((y - rect.top) * rect.Width() + (x - rect.left));
  }
  T* ColourAt(std::int64_t x, std::int64_t y) {
    if (bitmap) {
      const auto row = static_cast<int>(rect.Height() - 1 - (y - rect.top));
      return reinterpret_cast<T*>(FreeImage_GetScanLine(bitmap.get(), row)) + (x - rect.left) * channels;
    }
    return colour.data() + Index(x, y) * static_cast<std::uint64_t>(channels);
  }
  const T* ColourAt(std::int64_t x, std::int64_t y) const { return const_cast<Canvas*>(this)->ColourAt(x, y); }
  T* AlphaAt(std::int64_t x, std::int64_t y) { return alpha.data() + Index(x, y); }
  const T* AlphaAt(std::int64_t x, std::int64_t y) const { return alpha.data() + Index(x, y); }

  // Row y, columns [left, left + count), as fractions: `channels` to a pixel, and back.
  void LoadRow(std::int64_t y, std::int64_t left, std::size_t count, float* colour, float* alpha) const;
  void StoreRow(std::int64_t y, std::int64_t left, std::size_t count, const float* colour, const float* alpha);
};

// A canvas sample as a fraction, and back (rounded, clamped to 0..1).
inline float ToFloat(std::uint8_t v) { return v * (1.0f / 255); }
inline float ToFloat(std::uint16_t v) { return v * (1.0f / 65535); }
inline float ToFloat(float v) { return v; }
inline void FromFloat(float v, std::uint8_t& out) { out = static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f); }
inline void FromFloat(float v, std::uint16_t& out) {
  out = static_cast<std::uint16_t>(std::clamp(v, 0.0f, 1.0f) * 65535 + 0.5f);
}
inline void FromFloat(float v, float& out) { out = v; }

// Gives an 8-bit bitmap the palette of grey: entry i is (i, i, i).
void SetGreyPalette(FIBITMAP* bitmap);

}  // namespace kestrel
