#include "engine/composite/blend_if.h"

#include <algorithm>

namespace kestrel {
namespace {

bool Passes(const PsdBlendRange& r) { return r.blackLow == 0 && r.blackHigh == 0 && r.whiteLow == 255 && r.whiteHigh == 255; }

}  // namespace

float BlendRangePasses(const PsdBlendRange& r, float value) {
  const float v = value * 255;
  if (v < r.blackLow || v > r.whiteHigh) return 0;
  float through = 1;
  if (v < r.blackHigh) through = (v - r.blackLow) / static_cast<float>(r.blackHigh - r.blackLow);
  if (v > r.whiteLow) through = std::min(through, (r.whiteHigh - v) / static_cast<float>(r.whiteHigh - r.whiteLow));
  return through;
}

bool BlendIfCuts(const PsdLayer& layer) {
  return std::any_of(layer.blendIf.begin(), layer.blendIf.end(),
                     [](const PsdBlendRanges& r) { return !Passes(r.thisLayer) || !Passes(r.underlying); });
}

void CutByBlendIf(const PsdLayer& layer, int mode, int channels, const float* source, const float* backdrop,
                  std::span<float> coverage) {
  const auto n = static_cast<std::size_t>(channels);
  // The grey composite counts in RGB files alone; grey and Lab files keep it
  // without use, and CMYK files' ink has no light to weigh.
  const bool grey = mode == kPsdModeRgb && channels == 3;
  const auto luminosity = [](const float* c) { return 0.3f * c[0] + 0.59f * c[1] + 0.11f * c[2]; };
  for (std::size_t i = 0; i < layer.blendIf.size() && i <= n; ++i) {
    const PsdBlendRanges& r = layer.blendIf[i];
    if ((i == 0 && !grey) || (Passes(r.thisLayer) && Passes(r.underlying))) continue;
    for (std::size_t x = 0; x < coverage.size(); ++x) {
      if (!(coverage[x] > 0)) continue;
      const float* s = source + x * n;
      const float* b = backdrop + x * n;
      const float own = i == 0 ? luminosity(s) : s[i - 1];
      const float under = i == 0 ? luminosity(b) : b[i - 1];
      coverage[x] *= BlendRangePasses(r.thisLayer, own) * BlendRangePasses(r.underlying, under);
    }
  }
}

}  // namespace kestrel
