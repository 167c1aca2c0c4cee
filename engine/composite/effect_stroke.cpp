#include "engine/composite/effect_stroke.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>

#include "engine/composite/distance_field.h"
#include "engine/composite/effect_names.h"

namespace kestrel {
namespace {

// The stroke positions and fills as the descriptor names them, the default first.
constexpr EffectName<StrokeSettings::Position> kPositions[] = {
    {"OutF", StrokeSettings::Position::Outside},
    {"InsF", StrokeSettings::Position::Inside},
    {"CtrF", StrokeSettings::Position::Centre},
};
constexpr EffectName<StrokeSettings::Fill> kFills[] = {
    {"SClr", StrokeSettings::Fill::Colour},
    {"GrFl", StrokeSettings::Fill::Gradient},
    {"Ptrn", StrokeSettings::Fill::Pattern},
};

}  // namespace

std::optional<StrokeSettings> ReadStroke(const DescriptorValue& effect, const DescriptorColours& colours) {
  StrokeSettings stroke;
  const std::optional<EffectBlend> blend = ReadEffectBlend(effect);
  if (!blend) return std::nullopt;
  stroke.mode = blend->mode;
  stroke.opacity = blend->opacity;
  // Photoshop allows strokes of 1 to 250 pixels.
  stroke.size = std::clamp(effect.NumberOr("Sz  ", 3), 0.0, 250.0);
  stroke.overprint = effect.BooleanOr("overprint", false);
  const std::optional<StrokeSettings::Position> position = EnumeratedSetting<StrokeSettings::Position>(effect, "Styl", kPositions);
  const std::optional<StrokeSettings::Fill> fill = EnumeratedSetting<StrokeSettings::Fill>(effect, "PntT", kFills);
  if (!position || !fill) return std::nullopt;
  stroke.position = *position;
  stroke.fill = *fill;
  switch (stroke.fill) {
    case StrokeSettings::Fill::Colour: {
      const DescriptorValue* colour = effect.Find("Clr ");
      if (colour == nullptr || !colours.Read(*colour, stroke.colour)) return std::nullopt;
      break;
    }
    case StrokeSettings::Fill::Gradient:
      stroke.gradient = ReadGradient(effect, colours);
      if (!stroke.gradient) return std::nullopt;
      stroke.alignWithLayer = effect.BooleanOr("Algn", true);
      break;
    case StrokeSettings::Fill::Pattern:
      stroke.pattern = ReadPatternChoice(effect);
      if (!stroke.pattern) return std::nullopt;
      break;
  }
  return stroke;
}

int StrokeReach(const StrokeSettings& stroke) {
  const double out = stroke.position == StrokeSettings::Position::Outside ? stroke.size
                     : stroke.position == StrokeSettings::Position::Centre ? stroke.size / 2
                                                                           : 0;
  return static_cast<int>(std::ceil(out)) + 1;
}

namespace {

// The band. An inside band is cut by the shape's alpha unless `cutByShape` is
// false: then it is whole wherever the shape has any alpha, for paint that
// stays within the shape (the shape's alpha cuts it once, when it is laid).
std::vector<float> StrokeBand(const StrokeSettings& stroke, const ShapePlane& shape, PsdRect& rect, bool cutByShape) {
  // One pixel more than the stroke reaches, so that the grid's border lies outside the shape.
  const int reach = StrokeReach(stroke) + 1;
  rect = PsdRect{shape.rect.top - reach, shape.rect.left - reach, shape.rect.bottom + reach, shape.rect.right + reach};
  const std::int64_t width = rect.Width(), height = rect.Height();
  const auto pixels = static_cast<std::size_t>(width * height);
  std::vector<float> alpha(pixels), outside(pixels);
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const auto at = static_cast<std::size_t>(y * width + x);
      alpha[at] = std::clamp(shape.At(rect.left + x, rect.top + y), 0.0f, 1.0f);
      outside[at] = 1 - alpha[at];
    }
  }
  using Position = StrokeSettings::Position;
  const double half = stroke.size / 2;
  std::vector<float> coverage;
  if (stroke.position == Position::Outside) {
    coverage = Grown(alpha, width, height, stroke.size);
    for (std::size_t i = 0; i < pixels; ++i) coverage[i] = std::max(0.0f, coverage[i] - alpha[i]);
  } else if (stroke.position == Position::Inside) {
    coverage = Grown(outside, width, height, stroke.size);
    for (std::size_t i = 0; i < pixels; ++i) {
      coverage[i] = cutByShape ? std::min(coverage[i], alpha[i]) : alpha[i] > 0 ? coverage[i] : 0.0f;
    }
  } else {
    coverage = Grown(alpha, width, height, half);
    const std::vector<float> in = Grown(outside, width, height, half);
    for (std::size_t i = 0; i < pixels; ++i) coverage[i] = std::min(coverage[i], in[i]);
  }
  return coverage;
}

}  // namespace

std::vector<float> StrokeCoverage(const StrokeSettings& stroke, const ShapePlane& shape, PsdRect& rect) {
  return StrokeBand(stroke, shape, rect, true);
}

std::optional<EffectPaint> PaintStroke(const StrokeSettings& stroke, const ShapePlane& shape, const PsdRect& layer,
                                       const PsdRect& canvas, int channels, const PatternLibrary* patterns) {
  EffectPaint paint;
  paint.mode = stroke.mode;
  paint.opacity = stroke.opacity;
  // An inside stroke paints the edge pixels of a soft shape fully; their own
  // alpha thins it, as it thins the layer under it.
  paint.withinShape = stroke.position == StrokeSettings::Position::Inside;
  paint.coverage = StrokeBand(stroke, shape, paint.rect, !paint.withinShape);
  const std::int64_t pixels = paint.rect.Width() * paint.rect.Height();
  if (stroke.fill == StrokeSettings::Fill::Colour) {
    paint.colour.assign(stroke.colour, stroke.colour + channels);
    return paint;
  }
  paint.colourPerPixel = true;
  paint.colour.resize(static_cast<std::size_t>(pixels * channels));
  std::vector<float> opacity(static_cast<std::size_t>(pixels));
  if (stroke.gradient) {
    GradientPainter(*stroke.gradient, stroke.alignWithLayer ? layer : canvas, channels, pixels)
        .Paint(paint.rect, paint.colour.data(), opacity.data());
  } else {
    const std::unique_ptr<PatternPainter> painter = patterns != nullptr ? MakePatternPainter(*patterns, *stroke.pattern) : nullptr;
    if (!painter || painter->Channels() != channels) return std::nullopt;
    painter->Paint(paint.rect, paint.colour.data(), opacity.data());
  }
  for (std::size_t i = 0; i < opacity.size(); ++i) paint.coverage[i] *= opacity[i];
  return paint;
}

std::optional<DrawableEffect> ReadStrokeEffect(const DescriptorValue& settings, const EffectContext& context) {
  std::optional<StrokeSettings> read = ReadStroke(settings, context.colours);
  if (!read) return std::nullopt;
  const PatternLibrary* patterns = context.patterns;
  if (read->pattern) {
    const std::shared_ptr<const PatternTile> tile =
        patterns != nullptr ? patterns->Find(read->pattern->id, read->pattern->name) : nullptr;
    if (!tile || tile->channels != context.channels) return std::nullopt;
  }
  auto stroke = std::make_shared<const StrokeSettings>(std::move(*read));
  const PsdRect canvas = context.canvas;
  const int channels = context.channels;
  return DrawableEffect{StrokeReach(*stroke), [stroke, canvas, channels, patterns](const ShapePlane& shape) {
                          std::optional<EffectPaint> paint = PaintStroke(*stroke, shape, shape.bounds, canvas, channels, patterns);
                          std::vector<EffectPaint> paints;
                          if (paint) paints.push_back(std::move(*paint));
                          return paints;
                        }};
}

}  // namespace kestrel
