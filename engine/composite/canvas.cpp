#include "engine/composite/canvas.h"

#include <type_traits>

namespace kestrel {
namespace {

// N, the number of colour channels, is fixed so that the loops unroll.
template <int N, typename T>
void LoadRowOf(const Canvas<T>& canvas, std::int64_t y, std::int64_t left, std::size_t count, float* colour,
               float* alpha) {
  const T* c = canvas.ColourAt(left, y);
  const T* a = canvas.AlphaAt(left, y);
  int offset[N];
  for (int k = 0; k < N; ++k) offset[k] = canvas.colourOffset[k];
  for (std::size_t x = 0; x < count; ++x) {
    for (int k = 0; k < N; ++k) colour[x * N + k] = ToFloat(c[x * N + offset[k]]);
    alpha[x] = ToFloat(a[x]);
  }
}

template <int N, typename T>
void StoreRowOf(Canvas<T>& canvas, std::int64_t y, std::int64_t left, std::size_t count, const float* colour,
                const float* __restrict alpha) {
  T* __restrict c = canvas.ColourAt(left, y);
  T* __restrict a = canvas.AlphaAt(left, y);
  int offset[N];
  for (int k = 0; k < N; ++k) offset[k] = canvas.colourOffset[k];
  for (std::size_t x = 0; x < count; ++x) {
    for (int k = 0; k < N; ++k) FromFloat(colour[x * N + k], c[x * N + offset[k]]);
    FromFloat(alpha[x], a[x]);
  }
}

}  // namespace

void SetGreyPalette(FIBITMAP* bitmap) {
  RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
}

template <typename T>
Canvas<T> Canvas<T>::OnBitmap(const PsdRect& rect, int channels) {
  Canvas canvas;
  canvas.rect = rect;
  canvas.channels = channels;
  const int width = static_cast<int>(rect.Width());
  const int height = static_cast<int>(rect.Height());
  const bool grey = channels == 1;
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    canvas.bitmap = Adopt(FreeImage_Allocate(width, height, grey ? 8 : 24));
    if (canvas.bitmap && grey) SetGreyPalette(canvas.bitmap.get());
    if (!grey) {
      canvas.colourOffset[0] = FI_RGBA_RED;
      canvas.colourOffset[1] = FI_RGBA_GREEN;
      canvas.colourOffset[2] = FI_RGBA_BLUE;
    }
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    canvas.bitmap = Adopt(FreeImage_AllocateT(grey ? FIT_UINT16 : FIT_RGB16, width, height));
  } else {
    canvas.bitmap = Adopt(FreeImage_AllocateT(grey ? FIT_FLOAT : FIT_RGBF, width, height));
  }
  if (canvas.bitmap) canvas.alpha.assign(canvas.Count(), T{});
  return canvas;
}

template <typename T>
void Canvas<T>::LoadRow(std::int64_t y, std::int64_t left, std::size_t count, float* colourRow, float* alphaRow) const {
  switch (channels) {
    case 1: return LoadRowOf<1>(*this, y, left, count, colourRow, alphaRow);
    case 3: return LoadRowOf<3>(*this, y, left, count, colourRow, alphaRow);
    default: return LoadRowOf<4>(*this, y, left, count, colourRow, alphaRow);
  }
}

template <typename T>
void Canvas<T>::StoreRow(std::int64_t y, std::int64_t left, std::size_t count, const float* colourRow,
                         const float* alphaRow) {
  switch (channels) {
    case 1: return StoreRowOf<1>(*this, y, left, count, colourRow, alphaRow);
    case 3: return StoreRowOf<3>(*this, y, left, count, colourRow, alphaRow);
    default: return StoreRowOf<4>(*this, y, left, count, colourRow, alphaRow);
  }
}

template struct Canvas<std::uint8_t>;
template struct Canvas<std::uint16_t>;
template struct Canvas<float>;

}  // namespace kestrel
