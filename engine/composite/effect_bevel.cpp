#include "engine/composite/effect_bevel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>

#include "engine/composite/distance_field.h"
#include "engine/composite/effect_names.h"
#include "engine/composite/patterns.h"

namespace kestrel {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The bevel styles and techniques as the descriptor names them, the default first.
constexpr EffectName<BevelSettings::Style> kStyles[] = {
    {"InrB", BevelSettings::Style::Inner},          {"OtrB", BevelSettings::Style::Outer},
    {"Embs", BevelSettings::Style::Emboss},         {"PlEb", BevelSettings::Style::Pillow},
    {"strokeEmboss", BevelSettings::Style::StrokeEmboss},
};
constexpr EffectName<BevelSettings::Technique> kTechniques[] = {
    {"SfBL", BevelSettings::Technique::Smooth},
    {"PrBL", BevelSettings::Technique::ChiselHard},
    {"Slmt", BevelSettings::Technique::ChiselSoft},
};

std::optional<BlendMode> ModeOf(const DescriptorValue& effect, const char* key, const char* fallback) {
  const std::string_view name = effect.EnumOf(key);
  return BlendModeFromName(name.empty() ? fallback : name);
}

// The distance of each pixel's centre from the shape's edge: above zero inside, below outside.
std::vector<float> SignedDistance(const std::vector<float>& alpha, std::int64_t width, std::int64_t height) {
  std::vector<std::uint8_t> inside(alpha.size()), outside(alpha.size());
  for (std::size_t i = 0; i < alpha.size(); ++i) {
    inside[i] = alpha[i] >= 0.5f ? 1 : 0;
    outside[i] = 1 - inside[i];
  }
  const NearestPixels toInside = FindNearest(inside, width, height);
  const NearestPixels toOutside = FindNearest(outside, width, height);
  std::vector<float> d(alpha.size());
  for (std::size_t i = 0; i < alpha.size(); ++i) {
    // The edge lies beyond the nearest pixel across it by as much as that pixel's alpha passes one half.
    if (inside[i] != 0) {
      const std::int64_t q = toOutside.nearest[i];
      d[i] = q < 0 ? 1e6f : toOutside.distance[i] - 0.5f + alpha[static_cast<std::size_t>(q)];
    } else {
      const std::int64_t q = toInside.nearest[i];
      d[i] = q < 0 ? -1e6f : -(toInside.distance[i] + 0.5f - alpha[static_cast<std::size_t>(q)]);
    }
  }
  return d;
}

// The texture the bevel's settings name; empty when its pattern is not in the file.
std::optional<BevelTexture> ReadTexture(const DescriptorValue& effect, const EffectContext& context) {
  const std::optional<PatternChoice> choice = ReadPatternChoice(effect);
  if (!choice || context.patterns == nullptr) return std::nullopt;
  const std::shared_ptr<const PatternTile> tile = context.patterns->Find(choice->id, choice->name);
  if (!tile) return std::nullopt;
  BevelTexture texture;
  texture.pattern = MakePatternPainter(*tile, *choice);
  texture.depth = std::clamp(effect.NumberOr("textureDepth", 100) / 100.0, -10.0, 10.0);
  texture.invert = effect.BooleanOr("InvT", false);
  return texture;
}

// The texture's relief over `area`, in the bevel's heights: the pattern's
// dark parts raised (its light ones when inverted), at a depth of 100 % by
// two bevel heights, where the pattern is opaque.
std::vector<float> TextureRelief(const BevelTexture& texture, const PsdRect& area) {
  const auto pixels = static_cast<std::size_t>(area.Width() * area.Height());
  const auto channels = static_cast<std::size_t>(texture.pattern->Channels());
  std::vector<float> colour(pixels * channels), opacity(pixels), relief(pixels);
  texture.pattern->Paint(area, colour.data(), opacity.data());
  const auto scale = static_cast<float>(2 * texture.depth);
  for (std::size_t i = 0; i < pixels; ++i) {
    float sum = 0;
    for (std::size_t c = 0; c < channels; ++c) sum += colour[i * channels + c];
    const float light = channels == 0 ? 0 : sum / static_cast<float>(channels);
    relief[i] = scale * (texture.invert ? light : 1 - light) * opacity[i];
  }
  return relief;
}

// A height 0..1 through the bevel's contour, carried on straight beyond its ends.
double Profiled(const Contour& contour, double v) {
  constexpr double kStep = 1.0 / 255;
  if (v < 0) return contour[0] + v * (contour[1] - contour[0]) / kStep;
  if (v > 1) return contour[255] + (v - 1) * (contour[255] - contour[254]) / kStep;
  return ContourAt(contour, static_cast<float>(v));
}

}  // namespace

std::optional<BevelSettings> ReadBevel(const DescriptorValue& effect, const EffectContext& context) {
  BevelSettings b;
  const std::optional<BevelSettings::Style> style = EnumeratedSetting<BevelSettings::Style>(effect, "bvlS", kStyles);
  const std::optional<BevelSettings::Technique> technique =
      EnumeratedSetting<BevelSettings::Technique>(effect, "bvlT", kTechniques);
  if (!style || !technique) return std::nullopt;
  if (effect.BooleanOr("useTexture", false)) {
    b.texture = ReadTexture(effect, context);
    if (!b.texture) return std::nullopt;
  }
  b.style = *style;
  b.technique = *technique;
  b.up = effect.EnumOf("bvlD") != "Out ";
  b.depth = std::clamp(effect.NumberOr("srgR", 100) / 100.0, 0.01, 10.0);
  b.size = std::clamp(effect.NumberOr("blur", 5), 0.0, 250.0);
  b.soften = std::clamp(effect.NumberOr("Sftn", 0), 0.0, 16.0);
  const bool global = effect.BooleanOr("uglg", false);
  b.angle = global ? context.globalAngle : effect.NumberOr("lagl", 120);
  b.altitude = std::clamp(global ? context.globalAltitude : effect.NumberOr("Lald", 30), 0.0, 90.0);
  b.gloss = ReadContour(effect, "TrnS");
  if (effect.BooleanOr("useShape", false)) b.profile = ReadContour(effect, "MpgS");
  const std::optional<BlendMode> highlight = ModeOf(effect, "hglM", "Scrn");
  const std::optional<BlendMode> shadow = ModeOf(effect, "sdwM", "Mltp");
  const DescriptorValue* hc = effect.Find("hglC");
  const DescriptorValue* sc = effect.Find("sdwC");
  if (!highlight || !shadow) return std::nullopt;
  if ((hc != nullptr && !context.colours.Read(*hc, b.highlightColour)) ||
      (sc != nullptr && !context.colours.Read(*sc, b.shadowColour))) {
    return std::nullopt;
  }
  if (hc == nullptr) context.colours.Neutral(true, b.highlightColour);
  if (sc == nullptr) context.colours.Neutral(false, b.shadowColour);
  b.highlightMode = *highlight;
  b.shadowMode = *shadow;
  b.highlightOpacity = static_cast<float>(std::clamp(effect.NumberOr("hglO", 75) / 100.0, 0.0, 1.0));
  b.shadowOpacity = static_cast<float>(std::clamp(effect.NumberOr("sdwO", 75) / 100.0, 0.0, 1.0));
  return b;
}

BevelLight LightBevel(const BevelSettings& b, const ShapePlane& shape) {
  // Measured over the shape's rectangle and a border of two pixels, so that
  // the shape ends at the rectangle's edge (a layer filling the canvas has
  // its bevel along the canvas's edges) and the slope of the pixels along
  // that edge is taken from both sides of them.
  constexpr std::int64_t kPad = 2;
  const std::int64_t width = shape.rect.Width(), height = shape.rect.Height();
  const std::int64_t pw = width + 2 * kPad, ph = height + 2 * kPad;
  std::vector<float> padded(static_cast<std::size_t>(pw * ph), 0.0f);
  for (std::int64_t y = 0; y < height; ++y) {
    std::copy_n(shape.alpha.data() + y * width, width, padded.data() + (y + kPad) * pw + kPad);
  }
  const std::vector<float> d = SignedDistance(padded, pw, ph);
  const double size = std::max(b.size, 1.0);
  using Style = BevelSettings::Style;
  // The height of the surface, 0..1, rising over `size` pixels.
  EffectPlane h{pw, ph, std::vector<float>(d.size()), 0};
  for (std::size_t i = 0; i < d.size(); ++i) {
    double v = 0;
    switch (b.style) {
      case Style::Inner: v = d[i] / size; break;
      case Style::Outer: v = 1 + d[i] / size; break;
      case Style::Emboss: v = 0.5 + d[i] / size; break;
      case Style::Pillow: v = std::abs(d[i]) / (size / 2); break;
      case Style::StrokeEmboss: break;
    }
    // The slope runs on past the edge on the side the bevel does not show,
    // so that the pixels along the edge are as steep as those beside them.
    const bool inward = b.style == Style::Inner, outward = b.style == Style::Outer;
    v = std::clamp(v, inward ? -1.0 : 0.0, outward ? 2.0 : 1.0);
    // A smooth bevel is rounded: steepest at its foot, level at its top. A chisel is straight.
    if (b.technique == BevelSettings::Technique::Smooth) v = v > 1 ? v : 1 - (1 - v) * (1 - v);
    // The bevel's own contour reshapes its rise, from its foot to its top;
    // the slope running on past the edge keeps the contour's slope there.
    if (b.profile) v = Profiled(*b.profile, v);
    h.v[i] = static_cast<float>(v);
  }
  h.outside = b.style == Style::Pillow ? 1.0f : 0.0f;
  // A soft chisel has its creases rounded.
  if (b.technique == BevelSettings::Technique::ChiselSoft) SoftBlur(h, 1.5f);
  // The texture's relief is added to the bevel's height everywhere.
  if (b.texture) {
    const auto pad = static_cast<std::int32_t>(kPad);
    const PsdRect area{shape.rect.top - pad, shape.rect.left - pad, shape.rect.bottom + pad, shape.rect.right + pad};
    const std::vector<float> relief = TextureRelief(*b.texture, area);
    for (std::size_t i = 0; i < h.v.size(); ++i) h.v[i] += relief[i];
  }
  // The surface's slope, lit from the angle and altitude.
  const double a = b.angle * kPi / 180, e = b.altitude * kPi / 180;
  const double lx = std::cos(e) * std::cos(a), ly = -std::cos(e) * std::sin(a), lz = std::sin(e);
  // At a depth of 100 % the bevel rises by half its size.
  const double rise = size * b.depth / 2 * (b.up ? 1 : -1);
  const std::size_t pixels = static_cast<std::size_t>(width * height);
  BevelLight light{std::vector<float>(pixels), std::vector<float>(pixels)};
  EffectPlane shade{width, height, std::vector<float>(pixels), 0};
  const auto at = [&](std::int64_t x, std::int64_t y) {
    return static_cast<double>(h.v[static_cast<std::size_t>((y + kPad) * pw + x + kPad)]);
  };
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const double gx = (at(x + 1, y) - at(x - 1, y)) / 2 * rise;
      const double gy = (at(x, y + 1) - at(x, y - 1)) / 2 * rise;
      const double n = std::sqrt(gx * gx + gy * gy + 1);
      // How squarely the surface faces the light: 0 not at all, 1 head on.
      const double lit = (-gx * lx - gy * ly + lz) / n;
      shade.v[static_cast<std::size_t>(y * width + x)] = static_cast<float>(std::clamp(lit, 0.0, 1.0));
    }
  }
  // The gloss contour maps the lighting; what it puts above a half is
  // highlight and below it shadow, on level ground too.
  ApplyContour(shade, b.gloss);
  EffectPlane hi{width, height, std::vector<float>(pixels), 0}, lo{width, height, std::vector<float>(pixels), 0};
  for (std::size_t i = 0; i < pixels; ++i) {
    hi.v[i] = std::clamp(2 * shade.v[i] - 1, 0.0f, 1.0f);
    lo.v[i] = std::clamp(1 - 2 * shade.v[i], 0.0f, 1.0f);
  }
  SoftBlur(hi, static_cast<float>(b.soften));
  SoftBlur(lo, static_cast<float>(b.soften));
  // Where the bevel shows: an inner bevel on the shape, an outer one around it, an emboss on both.
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * width + x);
      const float depthFromEdge = d[static_cast<std::size_t>((y + kPad) * pw + x + kPad)];
      float within = 1;
      if (b.style == Style::Inner) within = shape.alpha[i];
      else if (b.style == Style::Outer) within = 1 - shape.alpha[i];
      else within = depthFromEdge > -size ? 1.0f : 0.0f;
      light.highlight[i] = hi.v[i] * within;
      light.shadow[i] = lo.v[i] * within;
    }
  }
  return light;
}

std::optional<StrokeSettings> EmbossedStroke(const EffectContext& context) {
  if (context.style == nullptr) return std::nullopt;
  // The topmost enabled stroke: the first of a list, else the single one.
  const DescriptorValue* list = context.style->Find("frameFXMulti");
  if (list != nullptr && list->type == DescriptorValue::Type::List) {
    for (const DescriptorValue& stroke : list->list) {
      if (EffectEnabled(stroke)) return ReadStroke(stroke, context.colours);
    }
    return std::nullopt;
  }
  const DescriptorValue* one = context.style->Find("FrFX");
  return one != nullptr && EffectEnabled(*one) ? ReadStroke(*one, context.colours) : std::nullopt;
}

namespace {

// The shadow's paint, then the highlight's, over `rect`.
std::vector<EffectPaint> BevelPaints(const BevelSettings& bevel, BevelLight&& light, const PsdRect& rect, int channels) {
  std::vector<EffectPaint> paints(2);
  paints[0] = {rect, std::move(light.shadow), std::vector<float>(bevel.shadowColour, bevel.shadowColour + channels),
               false, bevel.shadowMode, bevel.shadowOpacity};
  paints[1] = {rect, std::move(light.highlight),
               std::vector<float>(bevel.highlightColour, bevel.highlightColour + channels), false, bevel.highlightMode,
               bevel.highlightOpacity};
  return paints;
}

}  // namespace

std::optional<DrawableEffect> ReadBevelEffect(const DescriptorValue& settings, const EffectContext& context) {
  std::optional<BevelSettings> read = ReadBevel(settings, context);
  if (!read) return std::nullopt;
  const int channels = context.channels;
  if (read->style == BevelSettings::Style::StrokeEmboss) {
    // The stroke's band raised as an inner bevel on it; without a stroke there is nothing to raise.
    const std::optional<StrokeSettings> stroke = EmbossedStroke(context);
    if (!stroke) return DrawableEffect{0, [](const ShapePlane&) { return std::vector<EffectPaint>{}; }};
    read->style = BevelSettings::Style::Inner;
    auto bevel = std::make_shared<const BevelSettings>(std::move(*read));
    auto band = std::make_shared<const StrokeSettings>(*stroke);
    return DrawableEffect{StrokeReach(*band), [bevel, band, channels](const ShapePlane& shape) {
                            ShapePlane banded;
                            banded.alpha = StrokeCoverage(*band, shape, banded.rect);
                            banded.bounds = shape.bounds;
                            return BevelPaints(*bevel, LightBevel(*bevel, banded), banded.rect, channels);
                          }};
  }
  auto bevel = std::make_shared<const BevelSettings>(std::move(*read));
  const int reach = bevel->style == BevelSettings::Style::Inner ? 0 : static_cast<int>(std::ceil(bevel->size)) + 1;
  return DrawableEffect{reach, [bevel, channels](const ShapePlane& shape) {
                          return BevelPaints(*bevel, LightBevel(*bevel, shape), shape.rect, channels);
                        }};
}

}  // namespace kestrel
