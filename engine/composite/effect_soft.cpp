#include "engine/composite/effect_soft.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/composite/effect_geometry.h"
#include "engine/composite/effect_names.h"
#include "engine/composite/gradients.h"

namespace kestrel {
namespace {

// What every soft effect holds: one colour in a mode at an opacity, a size
// with the part of it that spreads rather than blurs, and a contour.
struct SoftSettings {
  BlendMode mode = BlendMode::Normal;
  float opacity = 1;
  float colour[4] = {0, 0, 0, 0};
  std::shared_ptr<const Gradient> gradient;  // a glow's colours, instead of the one colour
  float size = 0;      // pixels
  float spread = 0;    // 0..1 of the size
  int dx = 0, dy = 0;  // the offset from the light
  bool precise = false;
  float range = 1;     // of a glow: the part of its fall-off the contour spans
  Contour contour = LinearContour();
};

std::optional<SoftSettings> ReadSoft(const DescriptorValue& d, const EffectContext& context, bool lit,
                                     const char* contourKey) {
  SoftSettings s;
  const std::optional<EffectBlend> blend = ReadEffectBlend(d);
  if (!blend) return std::nullopt;
  // A glow may take its colours from a gradient instead of one colour.
  if (const DescriptorValue* colour = d.Find("Clr "); colour != nullptr) {
    if (!context.colours.Read(*colour, s.colour)) return std::nullopt;
  } else {
    std::optional<Gradient> gradient = ReadGradient(d, context.colours);
    if (!gradient) return std::nullopt;
    s.gradient = std::make_shared<const Gradient>(std::move(*gradient));
  }
  s.mode = blend->mode;
  s.opacity = blend->opacity;
  s.size = static_cast<float>(std::clamp(d.NumberOr("blur", 0), 0.0, 250.0));
  s.spread = static_cast<float>(std::clamp(d.NumberOr("Ckmt", 0) / 100.0, 0.0, 1.0));
  s.precise = d.EnumOf("GlwT") == "PrBL";
  s.range = static_cast<float>(std::clamp(d.NumberOr("Inpr", 100) / 100.0, 0.01, 1.0));
  s.contour = ReadContour(d, contourKey);
  if (lit) {
    const double angle = d.BooleanOr("uglg", false) ? context.globalAngle : d.NumberOr("lagl", 120);
    LightOffset(angle, std::clamp(d.NumberOr("Dstn", 0), -30000.0, 30000.0), s.dx, s.dy);
  }
  return s;
}

// The plane spread by its part of the size, then softened by the rest, or
// faded by distance for the precise technique.
// Glows blur with their own kernel (see GlowBlur).
void Soften(EffectPlane& plane, const SoftSettings& s, bool glow = false) {
  const float spread = s.size * s.spread;
  Spread(plane, spread);
  if (s.precise) PreciseFalloff(plane, s.size - spread);
  else if (glow) GlowBlur(plane, s.size - spread);
  else SoftBlur(plane, s.size - spread);
}

// A glow's contour spans `range` of its fall-off, from the far end.
void GlowContour(EffectPlane& plane, const SoftSettings& s) {
  if (s.range < 1) {
    for (float& v : plane.v) v = std::min(v / s.range, 1.0f);
  }
  ApplyContour(plane, s.contour);
}

EffectPaint PaintOf(const SoftSettings& s, const ShapePlane& shape, std::vector<float> coverage, int channels) {
  EffectPaint paint;
  paint.rect = shape.rect;
  paint.coverage = std::move(coverage);
  if (s.gradient) {
    // The gradient runs from the glow's strongest part (its first stop) to
    // where it fades out; its opacity fades the glow further.
    paint.colourPerPixel = true;
    paint.colour.resize(paint.coverage.size() * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < paint.coverage.size(); ++i) {
      float opacity = 1;
      SampleGradient(*s.gradient, 1.0 - paint.coverage[i], channels, &paint.colour[i * static_cast<std::size_t>(channels)],
                     &opacity);
      paint.coverage[i] *= opacity;
    }
  } else if (s.mode == BlendMode::ColourDodge) {
    // A dodging glow brightens by its colour faded towards black by its
    // fall-off and opacity, rather than mixing the full dodge in by them.
    paint.colourPerPixel = true;
    paint.colour.resize(paint.coverage.size() * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < paint.coverage.size(); ++i) {
      for (int c = 0; c < channels; ++c) {
        paint.colour[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
            s.colour[c] * paint.coverage[i] * s.opacity;
      }
      paint.coverage[i] = paint.coverage[i] > 0 ? 1.0f : 0.0f;
    }
    paint.mode = s.mode;
    paint.opacity = 1;
    return paint;
  } else {
    paint.colour.assign(s.colour, s.colour + channels);
  }
  paint.mode = s.mode;
  paint.opacity = s.opacity;
  return paint;
}

int Reach(const SoftSettings& s) {
  return static_cast<int>(std::ceil(s.size)) + std::max(std::abs(s.dx), std::abs(s.dy)) + 2;
}

template <typename Paint>
std::optional<DrawableEffect> Drawable(std::optional<SoftSettings> s, int reach, int channels, Paint paint,
                                       bool knockedOut = false) {
  if (!s) return std::nullopt;
  return DrawableEffect{reach, [s = *s, channels, paint, knockedOut](const ShapePlane& shape) {
                          EffectPaint out = PaintOf(s, shape, paint(s, shape), channels);
                          out.knockedOutByLayer = knockedOut;
                          return std::vector<EffectPaint>{std::move(out)};
                        }};
}

}  // namespace

std::optional<DrawableEffect> ReadDropShadow(const DescriptorValue& d, const EffectContext& context) {
  const std::optional<SoftSettings> s = ReadSoft(d, context, true, "TrnS");
  const bool knockedOut = d.BooleanOr("layerConceals", true);
  return Drawable(
      s, s ? Reach(*s) : 0, context.channels,
      [](const SoftSettings& s, const ShapePlane& shape) {
        EffectPlane plane = ShapeMoved(shape, s.dx, s.dy, false);
        Soften(plane, s);
        ApplyContour(plane, s.contour);
        return std::move(plane.v);
      },
      knockedOut);
}

// The outside of the shape reaching in: what lies beyond the layer's box
// counts as outside, so the plane is padded by the effect's reach.
std::optional<DrawableEffect> ReadInnerShadow(const DescriptorValue& d, const EffectContext& context) {
  return Drawable(ReadSoft(d, context, true, "TrnS"), 0, context.channels,
                  [](const SoftSettings& s, const ShapePlane& shape) {
                    const int pad = Reach(s);
                    EffectPlane plane = ShapeMoved(shape, s.dx, s.dy, true, pad);
                    Soften(plane, s);
                    ApplyContour(plane, s.contour);
                    return Unpadded(std::move(plane), pad);
                  });
}

std::optional<DrawableEffect> ReadOuterGlow(const DescriptorValue& d, const EffectContext& context) {
  const std::optional<SoftSettings> s = ReadSoft(d, context, false, "TrnS");
  return Drawable(
      s, s ? Reach(*s) : 0, context.channels,
      [](const SoftSettings& s, const ShapePlane& shape) {
        EffectPlane plane = ShapeMoved(shape, 0, 0, false);
        Soften(plane, s, true);
        GlowContour(plane, s);
        return std::move(plane.v);
      },
      true);
}

// From the edge, the glow is the blurred outside reaching in; from the
// centre, what that leaves.
std::optional<DrawableEffect> ReadInnerGlow(const DescriptorValue& d, const EffectContext& context) {
  const bool centre = d.EnumOf("glwS") == "SrcC";
  return Drawable(ReadSoft(d, context, false, "TrnS"), 0, context.channels,
                  [centre](const SoftSettings& s, const ShapePlane& shape) {
                    const int pad = Reach(s);
                    EffectPlane plane = ShapeMoved(shape, 0, 0, true, pad);
                    Soften(plane, s, true);
                    if (centre) {
                      for (float& v : plane.v) v = 1 - v;
                    }
                    GlowContour(plane, s);
                    return Unpadded(std::move(plane), pad);
                  });
}

// The shape moved both ways along the light, blurred: where the two differ.
std::optional<DrawableEffect> ReadSatin(const DescriptorValue& d, const EffectContext& context) {
  std::optional<SoftSettings> read = ReadSoft(d, context, true, "MpgS");
  const bool invert = d.BooleanOr("Invr", true);
  return Drawable(read, 0, context.channels, [invert](const SoftSettings& s, const ShapePlane& shape) {
    EffectPlane a = ShapeMoved(shape, s.dx, s.dy, false);
    EffectPlane b = ShapeMoved(shape, -s.dx, -s.dy, false);
    SoftBlur(a, s.size);
    SoftBlur(b, s.size);
    for (std::size_t i = 0; i < a.v.size(); ++i) a.v[i] = std::abs(a.v[i] - b.v[i]);
    ApplyContour(a, s.contour);
    if (invert) {
      for (float& v : a.v) v = 1 - v;
    }
    return std::move(a.v);
  });
}

}  // namespace kestrel
