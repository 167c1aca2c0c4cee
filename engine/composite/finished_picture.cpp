#include "engine/composite/finished_picture.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "engine/composite/stored_colour_display.h"

namespace kestrel {
namespace {

template <typename T>
bool LeavesTransparency(const Canvas<T>& canvas) {
  constexpr T kOpaque = std::is_same_v<T, float> ? T(1) : std::is_same_v<T, std::uint16_t> ? T(65535) : T(255);
  return std::any_of(canvas.alpha.begin(), canvas.alpha.end(), [](T a) { return a < kOpaque; });
}

template <typename T>
ImagePtr AllocateWithAlpha(int width, int height) {
  if constexpr (std::is_same_v<T, std::uint8_t>) return Adopt(FreeImage_Allocate(width, height, 32));
  else if constexpr (std::is_same_v<T, std::uint16_t>) return Adopt(FreeImage_AllocateT(FIT_RGBA16, width, height));
  else return Adopt(FreeImage_AllocateT(FIT_RGBAF, width, height));
}

// The samples go across as they are: bytes in the bitmap's BGRA order, wider
// samples as R, G, B, A.
template <typename T>
ImagePtr WithAlpha(const Canvas<T>& canvas) {
  const int width = static_cast<int>(canvas.rect.Width());
  const int height = static_cast<int>(canvas.rect.Height());
  ImagePtr image = AllocateWithAlpha<T>(width, height);
  if (!image) return nullptr;
  constexpr bool kBytes = std::is_same_v<T, std::uint8_t>;
  constexpr int kRed = kBytes ? FI_RGBA_RED : 0, kGreen = kBytes ? FI_RGBA_GREEN : 1;
  constexpr int kBlue = kBytes ? FI_RGBA_BLUE : 2, kAlpha = kBytes ? FI_RGBA_ALPHA : 3;
  const int n = canvas.channels;
  const int* offset = canvas.colourOffset;
  for (int y = 0; y < height; ++y) {
    T* line = reinterpret_cast<T*>(FreeImage_GetScanLine(image.get(), height - 1 - y));
    const T* colour = canvas.ColourAt(0, y);
    const T* alpha = canvas.AlphaAt(0, y);
    for (int x = 0; x < width; ++x) {
      T* to = line + 4 * x;
      const T* from = colour + static_cast<std::ptrdiff_t>(x) * n;
      to[kRed] = from[offset[0]];
      to[kGreen] = from[offset[n == 3 ? 1 : 0]];
      to[kBlue] = from[offset[n == 3 ? 2 : 0]];
      to[kAlpha] = alpha[x];
    }
  }
  return image;
}

// The picture in the form the decoder gives a merged image: 8-bit grey or
// RGB, with transparency beside the colour.
template <typename T>
ImagePtr ToDisplay(const Canvas<T>& canvas, const PsdDocument& document) {
  const int width = static_cast<int>(canvas.rect.Width());
  const int height = static_cast<int>(canvas.rect.Height());
  const bool withAlpha = LeavesTransparency(canvas);
  StoredColourDisplay display(document);
  const bool grey = display.OutputChannels() == 1;
  ImagePtr image = Adopt(FreeImage_Allocate(width, height, withAlpha ? 32 : grey ? 8 : 24));
  if (!image) return nullptr;
  if (grey && !withAlpha) SetGreyPalette(image.get());
  std::vector<float> colour(static_cast<std::size_t>(width) * canvas.channels);
  std::vector<float> alpha(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    canvas.LoadRow(y, 0, static_cast<std::size_t>(width), colour.data(), alpha.data());
    display.Convert(colour.data(), alpha.data(), FreeImage_GetScanLine(image.get(), height - 1 - y),
                    static_cast<std::size_t>(width), withAlpha);
  }
  return image;
}

}  // namespace

template <typename T>
ImagePtr FinishPicture(Canvas<T>& canvas, const PsdDocument& document) {
  if (ShowsThroughDisplayColour(document)) return ToDisplay(canvas, document);
  // Where every pixel is covered the canvas kept in the picture is the picture.
  if (!LeavesTransparency(canvas)) return std::move(canvas.bitmap);
  return WithAlpha(canvas);
}

template ImagePtr FinishPicture(Canvas<std::uint8_t>&, const PsdDocument&);
template ImagePtr FinishPicture(Canvas<std::uint16_t>&, const PsdDocument&);
template ImagePtr FinishPicture(Canvas<float>&, const PsdDocument&);

}  // namespace kestrel
