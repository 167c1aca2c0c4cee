#include "engine/composite/effect_layering.h"

#include <algorithm>

#include "engine/composite/canvas_blend.h"
#include "engine/composite/rects.h"

namespace kestrel {
namespace {

// Row y of a paint's colour over [left, left + width): its own per pixel, or its one colour.
void PaintColourRow(const EffectPaint& paint, int channels, std::int64_t y, std::int64_t left, std::size_t width,
                    std::vector<float>& out) {
  out.resize(width * static_cast<std::size_t>(channels));
  if (paint.colourPerPixel) {
    const float* from = paint.colour.data() +
                        ((y - paint.rect.top) * paint.rect.Width() + (left - paint.rect.left)) * channels;
    std::copy_n(from, out.size(), out.begin());
    return;
  }
  for (std::size_t x = 0; x < width; ++x) std::copy_n(paint.colour.data(), channels, out.data() + x * channels);
}

const float* CoverageRow(const EffectPaint& paint, std::int64_t y, std::int64_t left) {
  return paint.coverage.data() + (y - paint.rect.top) * paint.rect.Width() + (left - paint.rect.left);
}

}  // namespace

template <typename T>
void LayWithEffects(const LayerStyle& style, const EffectLayering& how, Canvas<T>& whole,
                    const std::vector<float>& mask, Canvas<T>& dest) {
  const int n = whole.channels;
  const PsdRect rect = whole.rect;
  const auto width = static_cast<std::size_t>(rect.Width());
  if (width == 0) return;
  const auto maskRow = [&](std::int64_t y) { return mask.empty() ? nullptr : mask.data() + (y - rect.top) * rect.Width(); };

  // The shape the effects follow: the layer's alpha, cut by its masks unless they hide the effects.
  ShapePlane shape{rect, std::vector<float>(whole.Count()), how.bounds};
  for (std::size_t i = 0; i < shape.alpha.size(); ++i) {
    shape.alpha[i] = ToFloat(whole.alpha[i]) * (mask.empty() || how.maskHidesEffects ? 1.0f : mask[i]);
  }
  std::vector<float> colour(width * n), alpha(width), paintColour, coverage(width);
  const PsdRect area = Intersect(rect, dest.rect);
  const auto areaWidth = static_cast<std::size_t>(area.Width());

  // The layer's own pixels count at its fill opacity; the effects inside it at theirs.
  const float content = how.blendInteriorAsGroup ? 1.0f : how.fillOpacity;
  std::vector<float> contentAlpha(whole.Count(), content);
  bool laidLayer = false;
  const auto layLayer = [&]() {
    // The pixels and the effects inside them, in the layer's shape.
    for (std::int64_t y = rect.top; y < rect.bottom; ++y) {
      whole.LoadRow(y, rect.left, width, colour.data(), alpha.data());
      const std::size_t at = static_cast<std::size_t>(y - rect.top) * width;
      const float fade = how.blendInteriorAsGroup ? how.fillOpacity : 1.0f;
      for (std::size_t x = 0; x < width; ++x) alpha[x] = shape.alpha[at + x] * contentAlpha[at + x] * fade;
      whole.StoreRow(y, rect.left, width, colour.data(), alpha.data());
    }
    contentAlpha = {};
    laidLayer = true;
  };

  for (const PlacedEffect& placed : style.effects) {
    const EffectPlace place = placed.kind->place;
    if (place == EffectPlace::Above && !laidLayer) layLayer();
    for (const EffectPaint& paint : placed.effect.paint(shape)) {
      if (place == EffectPlace::Below) {
        if (areaWidth == 0) continue;
        for (std::int64_t y = area.top; y < area.bottom; ++y) {
          PaintColourRow(paint, n, y, area.left, areaWidth, paintColour);
          const float* cover = CoverageRow(paint, y, area.left);
          const float* cut = maskRow(y);
          for (std::size_t x = 0; x < areaWidth; ++x) {
            coverage[x] = cover[x] * paint.opacity * how.opacity *
                          (cut != nullptr && how.maskHidesEffects ? cut[area.left - rect.left + x] : 1.0f);
          }
          BlendRow(paint.mode, how.space, dest, y, area.left, areaWidth, paintColour.data(), coverage.data());
        }
        continue;
      }
      // Inside the layer the paint goes on its pixels (their alpha as the
      // layer's content counts); above it, on the layer as it stands.
      for (std::int64_t y = rect.top; y < rect.bottom; ++y) {
        whole.LoadRow(y, rect.left, width, colour.data(), alpha.data());
        PaintColourRow(paint, n, y, rect.left, width, paintColour);
        const float* cover = CoverageRow(paint, y, rect.left);
        for (std::size_t x = 0; x < width; ++x) coverage[x] = cover[x] * paint.opacity;
        float* backdrop = place == EffectPlace::Interior ? contentAlpha.data() + (y - rect.top) * rect.Width() : alpha.data();
        BlendPixels(paint.mode, n, colour.data(), backdrop, paintColour.data(), coverage.data(), width, how.space);
        whole.StoreRow(y, rect.left, width, colour.data(), alpha.data());
      }
    }
  }
  if (!laidLayer) layLayer();
  if (areaWidth == 0) return;
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    whole.LoadRow(y, area.left, areaWidth, colour.data(), alpha.data());
    const float* cut = maskRow(y);
    for (std::size_t x = 0; x < areaWidth; ++x) {
      alpha[x] *= how.opacity * (cut != nullptr && how.maskHidesEffects ? cut[area.left - rect.left + x] : 1.0f);
    }
    BlendRow(how.mode, how.space, dest, y, area.left, areaWidth, colour.data(), alpha.data());
  }
}

template void LayWithEffects(const LayerStyle&, const EffectLayering&, Canvas<std::uint8_t>&, const std::vector<float>&,
                             Canvas<std::uint8_t>&);
template void LayWithEffects(const LayerStyle&, const EffectLayering&, Canvas<std::uint16_t>&,
                             const std::vector<float>&, Canvas<std::uint16_t>&);
template void LayWithEffects(const LayerStyle&, const EffectLayering&, Canvas<float>&, const std::vector<float>&,
                             Canvas<float>&);

}  // namespace kestrel
