#include "engine/composite/effect_overlays.h"

#include <memory>

#include "engine/composite/layer_effects.h"

namespace kestrel {
namespace {

std::optional<DrawableEffect> ReadOverlayEffect(const DescriptorValue& settings, const EffectContext& context,
                                                bool gradient) {
  std::optional<Overlay> read = ReadOverlay(settings, gradient, context.colours);
  if (!read) return std::nullopt;
  auto overlay = std::make_shared<const Overlay>(std::move(*read));
  const int channels = context.channels;
  const PsdRect canvas = context.canvas;
  return DrawableEffect{0, [overlay, channels, canvas](const ShapePlane& shape) {
                          EffectPaint paint;
                          paint.rect = shape.rect;
                          paint.mode = overlay->mode;
                          paint.opacity = overlay->opacity;
                          const auto pixels = static_cast<std::size_t>(shape.rect.Width() * shape.rect.Height());
                          if (overlay->gradient) {
                            paint.colourPerPixel = true;
                            paint.colour.resize(pixels * static_cast<std::size_t>(channels));
                            paint.coverage.resize(pixels);
                            PaintGradient(*overlay->gradient, overlay->alignWithLayer ? shape.bounds : canvas,
                                          shape.rect, channels, paint.colour.data(), paint.coverage.data());
                          } else {
                            paint.colour.assign(overlay->colour, overlay->colour + channels);
                            paint.coverage.assign(pixels, 1.0f);
                          }
                          return std::vector<EffectPaint>{std::move(paint)};
                        }};
}

}  // namespace

std::optional<DrawableEffect> ReadColourOverlay(const DescriptorValue& settings, const EffectContext& context) {
  return ReadOverlayEffect(settings, context, false);
}

std::optional<DrawableEffect> ReadGradientOverlay(const DescriptorValue& settings, const EffectContext& context) {
  return ReadOverlayEffect(settings, context, true);
}

}  // namespace kestrel
