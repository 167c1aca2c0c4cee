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
void CopyArea(const Canvas<T>& from, const PsdRect& area, Canvas<T>& to) {
  const auto width = static_cast<std::size_t>(area.Width());
  std::vector<float> colour(width * from.channels), alpha(width);
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    from.LoadRow(y, area.left, width, colour.data(), alpha.data());
    to.StoreRow(y, area.left, width, colour.data(), alpha.data());
  }
}

template <typename T>
Canvas<T> CopyOfArea(const Canvas<T>& from, const PsdRect& area) {
  Canvas<T> copy(area, from.channels);
  CopyArea(from, area, copy);
  return copy;
}

template <typename T>
void LayWithEffects(const LayerStyle& style, const EffectLayering& how, Canvas<T>& whole,
                    const std::vector<float>& mask, Canvas<T>& dest, bool belowOnly) {
  const int n = whole.channels;
  const PsdRect rect = whole.rect;
  const auto width = static_cast<std::size_t>(rect.Width());
  if (width == 0) return;
  const auto maskRow = [&](std::int64_t y) {
    return mask.empty() ? nullptr : mask.data() + (y - rect.top) * rect.Width();
  };

  // The shape the effects follow: the layer's alpha, cut by its masks unless they hide the effects.
  ShapePlane shape{rect, std::vector<float>(whole.Count()), how.bounds};
  for (std::size_t i = 0; i < shape.alpha.size(); ++i) {
    shape.alpha[i] = ToFloat(whole.alpha[i]) * (mask.empty() || how.maskHidesEffects ? 1.0f : mask[i]);
  }
  std::vector<float> colour(width * n), alpha(width), paintColour, coverage(width), share(width);
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

  // A layer in a mode other than normal blends with what lay beneath it
  // before its shadows and glows, which then show only where it lets them
  // (as if laid behind it): that backdrop is kept.
  Canvas<T> before;
  const bool behind = how.mode != BlendMode::Normal && !belowOnly && areaWidth > 0 &&
                      std::any_of(style.effects.begin(), style.effects.end(),
                                  [](const PlacedEffect& e) { return e.kind->place == EffectPlace::Below; });
  if (behind) before = CopyOfArea(dest, area);

  for (const PlacedEffect& placed : style.effects) {
    const EffectPlace place = placed.kind->place;
    if (belowOnly && place != EffectPlace::Below) continue;
    if (place == EffectPlace::Above && !laidLayer) layLayer();
    for (const EffectPaint& paint : placed.effect.paint(shape)) {
      if (place == EffectPlace::Below) {
        if (areaWidth == 0) continue;
        for (std::int64_t y = area.top; y < area.bottom; ++y) {
          PaintColourRow(paint, n, y, area.left, areaWidth, paintColour);
          const float* cover = CoverageRow(paint, y, area.left);
          const float* cut = maskRow(y);
          const float* hidden = shape.alpha.data() + (y - rect.top) * rect.Width() + (area.left - rect.left);
          const bool knockedOut = paint.knockedOutByLayer && how.fillOpacity < 1;
          for (std::size_t x = 0; x < areaWidth; ++x) {
            coverage[x] = cover[x] * paint.opacity * how.opacity * (knockedOut ? 1 - hidden[x] : 1.0f) *
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
        const bool within = paint.withinShape && place == EffectPlace::Above;
        const float* shapeRow = shape.alpha.data() + (y - rect.top) * rect.Width();
        if (within) {
          // Blend onto the share of its shape the layer fills; the shape's alpha then scales it back.
          for (std::size_t x = 0; x < width; ++x) {
            share[x] = shapeRow[x] > 0 ? std::min(1.0f, alpha[x] / shapeRow[x]) : 0.0f;
          }
        }
        float* backdrop = place == EffectPlace::Interior ? contentAlpha.data() + (y - rect.top) * rect.Width()
                          : within                       ? share.data()
                                                         : alpha.data();
        BlendPixels(paint.mode, n, colour.data(), backdrop, paintColour.data(), coverage.data(), width, how.space);
        if (within) {
          for (std::size_t x = 0; x < width; ++x) alpha[x] = std::max(alpha[x], share[x] * shapeRow[x]);
        }
        whole.StoreRow(y, rect.left, width, colour.data(), alpha.data());
      }
    }
  }
  if (belowOnly) return;
  if (!laidLayer) layLayer();
  if (areaWidth == 0) return;
  std::vector<float> backColour, backAlpha, destColour, destAlpha;
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    whole.LoadRow(y, area.left, areaWidth, colour.data(), alpha.data());
    const float* cut = maskRow(y);
    for (std::size_t x = 0; x < areaWidth; ++x) {
      alpha[x] *= how.opacity * (cut != nullptr && how.maskHidesEffects ? cut[area.left - rect.left + x] : 1.0f);
    }
    if (!behind) {
      BlendRow(how.mode, how.space, dest, y, area.left, areaWidth, colour.data(), alpha.data());
      continue;
    }
    backColour.resize(colour.size());
    backAlpha.resize(areaWidth);
    destColour.resize(colour.size());
    destAlpha.resize(areaWidth);
    before.LoadRow(y, area.left, areaWidth, backColour.data(), backAlpha.data());
    dest.LoadRow(y, area.left, areaWidth, destColour.data(), destAlpha.data());
    std::vector<float> mixed = backColour, mixedAlpha = backAlpha;
    BlendPixels(how.mode, n, mixed.data(), mixedAlpha.data(), colour.data(), alpha.data(), areaWidth, how.space);
    // What the shadows added to the backdrop shows through where the layer does not cover.
    for (std::size_t x = 0; x < areaWidth; ++x) {
      const float through = 1 - alpha[x];
      const float a = mixedAlpha[x] + (destAlpha[x] - backAlpha[x]) * through;
      for (int c = 0; c < n; ++c) {
        const std::size_t at = x * n + c;
        const float premultiplied = mixed[at] * mixedAlpha[x] +
                                    (destColour[at] * destAlpha[x] - backColour[at] * backAlpha[x]) * through;
        destColour[at] = a > 0 ? premultiplied / a : 0.0f;
      }
      destAlpha[x] = a;
    }
    dest.StoreRow(y, area.left, areaWidth, destColour.data(), destAlpha.data());
  }
}

template <typename T>
void LayBehind(const Canvas<T>& backdrop, const Canvas<T>& shadowed, const Canvas<T>& shape, float opacity,
               Canvas<T>& dest) {
  const PsdRect area = backdrop.rect;
  const auto width = static_cast<std::size_t>(area.Width());
  const int n = dest.channels;
  std::vector<float> bc(width * n), ba(width), sc(width * n), sa(width), dc(width * n), da(width), unused(width * n),
      cover(width);
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    backdrop.LoadRow(y, area.left, width, bc.data(), ba.data());
    shadowed.LoadRow(y, area.left, width, sc.data(), sa.data());
    dest.LoadRow(y, area.left, width, dc.data(), da.data());
    shape.LoadRow(y, area.left, width, unused.data(), cover.data());
    for (std::size_t x = 0; x < width; ++x) {
      const float through = 1 - cover[x] * opacity;
      const float a = da[x] + (sa[x] - ba[x]) * through;
      for (int c = 0; c < n; ++c) {
        const std::size_t at = x * n + c;
        const float premultiplied = dc[at] * da[x] + (sc[at] * sa[x] - bc[at] * ba[x]) * through;
        dc[at] = a > 0 ? premultiplied / a : 0.0f;
      }
      da[x] = a;
    }
    dest.StoreRow(y, area.left, width, dc.data(), da.data());
  }
}

#define KESTREL_BEHIND(T)                                                                              \
  template void CopyArea(const Canvas<T>&, const PsdRect&, Canvas<T>&);                               \
  template Canvas<T> CopyOfArea(const Canvas<T>&, const PsdRect&);                                    \
  template void LayBehind(const Canvas<T>&, const Canvas<T>&, const Canvas<T>&, float, Canvas<T>&);
KESTREL_BEHIND(std::uint8_t)
KESTREL_BEHIND(std::uint16_t)
KESTREL_BEHIND(float)
#undef KESTREL_BEHIND

template void LayWithEffects(const LayerStyle&, const EffectLayering&, Canvas<std::uint8_t>&, const std::vector<float>&,
                             Canvas<std::uint8_t>&, bool);
template void LayWithEffects(const LayerStyle&, const EffectLayering&, Canvas<std::uint16_t>&,
                             const std::vector<float>&, Canvas<std::uint16_t>&, bool);
template void LayWithEffects(const LayerStyle&, const EffectLayering&, Canvas<float>&, const std::vector<float>&,
                             Canvas<float>&, bool);

}  // namespace kestrel
