#include "engine/composite/effect_pattern_overlay.h"

#include <algorithm>
#include <memory>

#include "engine/composite/effect_names.h"
#include "engine/composite/patterns.h"

namespace kestrel {

std::optional<DrawableEffect> ReadPatternOverlay(const DescriptorValue& settings, const EffectContext& context) {
  const std::optional<EffectBlend> blend = ReadEffectBlend(settings);
  const std::optional<PatternChoice> choice = ReadPatternChoice(settings);
  if (!blend || !choice || context.patterns == nullptr) return std::nullopt;
  const std::shared_ptr<const PatternTile> tile = context.patterns->Find(choice->id, choice->name);
  if (!tile || tile->channels != context.channels) return std::nullopt;
  const std::shared_ptr<const PatternPainter> painter = MakePatternPainter(*tile, *choice, context.reference);
  const int channels = context.channels;
  return DrawableEffect{0, [painter, mode = blend->mode, opacity = blend->opacity, channels](const ShapePlane& shape) {
                          EffectPaint paint;
                          paint.rect = shape.rect;
                          paint.mode = mode;
                          paint.opacity = opacity;
                          paint.colourPerPixel = true;
                          const auto pixels = static_cast<std::size_t>(shape.rect.Width() * shape.rect.Height());
                          paint.colour.resize(pixels * static_cast<std::size_t>(channels));
                          paint.coverage.resize(pixels);
                          painter->Paint(shape.rect, paint.colour.data(), paint.coverage.data());
                          return std::vector<EffectPaint>{std::move(paint)};
                        }};
}

}  // namespace kestrel
