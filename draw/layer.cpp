#include "draw/layer.h"

namespace kestrel {

Rgba ColourFromPacked(std::uint32_t packed, int alpha) {
  return Rgba{static_cast<std::uint8_t>(packed & 0xFF), static_cast<std::uint8_t>((packed >> 8) & 0xFF),
              static_cast<std::uint8_t>((packed >> 16) & 0xFF), static_cast<std::uint8_t>(alpha)};
}

bool MakeLayer(Layer& layer, int width, int height) {
  layer = Layer{};
  if (width <= 0 || height <= 0) return false;
  if (static_cast<std::int64_t>(width) * height > kMaxLayerPixels) return false;
  layer.width = width;
  layer.height = height;
  layer.pixels.assign(static_cast<std::size_t>(width) * height, Rgba{});
  return true;
}

void BlendPixel(Rgba& target, Rgba source, int opacity) {
  const int as = opacity * source.a / 255;
  if (as == 0) return;
  const int ad = target.a;
  const int keep = 255 - as;
  const auto channel = [&](std::uint8_t cd, std::uint8_t cs) -> std::uint8_t {
    if (ad == 0) return cs;
    return static_cast<std::uint8_t>((cd * ad * keep + cs * as * 255) / (ad * keep + as * 255));
  };
  target.r = channel(target.r, source.r);
  target.g = channel(target.g, source.g);
  target.b = channel(target.b, source.b);
  target.a = static_cast<std::uint8_t>((as * 255 + keep * ad) / 255);
}

void DrawLayer(Layer& target, const Layer& source, int opacity) {
  if (target.width != source.width || target.height != source.height) return;
  for (std::size_t i = 0; i < target.pixels.size(); ++i) BlendPixel(target.pixels[i], source.pixels[i], opacity);
}

void FillThroughCoverage(Layer& layer, const Coverage& coverage, Rgba colour, int x0, int y0) {
  if (x0 < 0 || y0 < 0 || coverage.width > layer.width - x0 || coverage.height > layer.height - y0) return;
  for (int y = 0; y < coverage.height; ++y) {
    for (int x = 0; x < coverage.width; ++x) {
      const std::uint8_t c = coverage.At(x, y);
      if (c == 0) continue;
      colour.a = c;
      BlendPixel(layer.At(x0 + x, y0 + y), colour, 255);
    }
  }
}

ImagePtr LayerToBitmap(const Layer& layer) {
  if (layer.width <= 0 || layer.height <= 0) return nullptr;
  ImagePtr bitmap = Adopt(FreeImage_Allocate(layer.width, layer.height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                             FI_RGBA_BLUE_MASK));
  if (!bitmap) return nullptr;
  for (int y = 0; y < layer.height; ++y) {
    // FreeImage keeps its rows bottom-up.
    BYTE* line = FreeImage_GetScanLine(bitmap.get(), layer.height - 1 - y);
    for (int x = 0; x < layer.width; ++x) {
      const Rgba& p = layer.At(x, y);
      line[FI_RGBA_RED] = p.r;
      line[FI_RGBA_GREEN] = p.g;
      line[FI_RGBA_BLUE] = p.b;
      line[FI_RGBA_ALPHA] = p.a;
      line += 4;
    }
  }
  return bitmap;
}

bool CompositeOver(FIBITMAP* image, FIBITMAP* layer, int x, int y) {
  if (image == nullptr || layer == nullptr) return false;
  if (FreeImage_GetBPP(image) != 24 || FreeImage_GetBPP(layer) != 32) return false;
  const int imageWidth = static_cast<int>(FreeImage_GetWidth(image));
  const int imageHeight = static_cast<int>(FreeImage_GetHeight(image));
  const int w = static_cast<int>(FreeImage_GetWidth(layer));
  const int h = static_cast<int>(FreeImage_GetHeight(layer));
  if (x < 0 || y < 0 || w > imageWidth - x || h > imageHeight - y) return false;
  for (int row = 0; row < h; ++row) {
    const BYTE* src = FreeImage_GetScanLine(layer, h - 1 - row);
    BYTE* dst = FreeImage_GetScanLine(image, imageHeight - 1 - (y + row)) + 3 * x;
    for (int col = 0; col < w; ++col, src += 4, dst += 3) {
      const int a = src[FI_RGBA_ALPHA];
      if (a == 0) continue;
      for (int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) {
        dst[c] = a == 255 ? src[c] : static_cast<BYTE>((a * src[c] + (255 - a) * dst[c]) / 256);
      }
    }
  }
  return true;
}

}  // namespace kestrel
