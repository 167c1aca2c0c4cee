#include "job/thumbnail.h"

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "engine/decode/load.h"
#include "engine/steps/depth.h"
#include "output/save.h"

namespace kestrel {
namespace {

// Colour scaled apart from its alpha would let the colour of transparent
// pixels bleed into the edges: the picture is scaled with its colour weighted
// by alpha, then the weight is taken off again.
void UnPremultiply(FIBITMAP* image) {
  ForEachBgraPixel(image, [](BYTE* p) {
    const unsigned a = p[FI_RGBA_ALPHA];
    if (a == 0 || a == 255) return;
    for (const int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) {
      p[c] = static_cast<BYTE>(std::min(255u, (p[c] * 255u + a / 2) / a));
    }
  });
}

// The scaled size, rounded, never below one pixel.
unsigned ScaledEdge(unsigned edge, double scale) {
  return std::max(1u, static_cast<unsigned>(std::lround(edge * scale)));
}

}  // namespace

Outcome WriteThumbnail(const std::string& input, const std::string& output, int size) {
  ImageResult loaded = LoadInputImage(input, 0);
  ImagePtr image = std::move(loaded.image);
  if (!image) return Failed(std::move(loaded.failure));
  image = ToneMapWideImage(NormaliseGreyscale(std::move(image)));
  if (!image) return Failed("the image could not be brought to 8 bits per channel");

  const unsigned width = FreeImage_GetWidth(image.get());
  const unsigned height = FreeImage_GetHeight(image.get());
  const unsigned longest = std::max(width, height);
  if (longest > static_cast<unsigned>(size)) {
    const double scale = static_cast<double>(size) / longest;
    const bool alpha = FreeImage_GetBPP(image.get()) == 32;
    if (alpha) FreeImage_PreMultiplyWithAlpha(image.get());
    // Catmull-Rom keeps edges sharp without the ringing of wider filters.
    image = Adopt(FreeImage_Rescale(image.get(), static_cast<int>(ScaledEdge(width, scale)),
                                    static_cast<int>(ScaledEdge(height, scale)), FILTER_CATMULLROM));
    if (!image) return Failed("no memory to scale the picture");
    if (alpha) UnPremultiply(image.get());
  }
  if (Outcome refused = RefuseInputAsOutput(input, output); !refused) return refused;
  return SaveImage(image.get(), FIF_PNG, output, PNG_DEFAULT);
}

}  // namespace kestrel
