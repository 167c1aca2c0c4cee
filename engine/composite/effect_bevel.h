// Bevel and emboss: the layer's shape given a height along its edge (a
// bevel inside or outside it, an emboss across it, a pillow sunk into it),
// lit from the style's angle and altitude; where the slope faces the light
// the highlight colour is laid, where it faces away the shadow colour.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "engine/composite/effect_geometry.h"
#include "engine/composite/effect_kinds.h"
#include "engine/composite/effect_stroke.h"

namespace kestrel {

class PatternPainter;

// A pattern pressed into the bevel's surface: its lightness, repeated over
// the canvas, raises the surface (or sinks it, inverted).
struct BevelTexture {
  std::shared_ptr<const PatternPainter> pattern;
  double depth = 1;     // 'textureDepth' as a fraction, below zero sinking
  bool invert = false;  // 'InvT'
};

struct BevelSettings {
  enum class Style { Inner, Outer, Emboss, Pillow, StrokeEmboss };
  enum class Technique { Smooth, ChiselHard, ChiselSoft };
  Style style = Style::Inner;
  Technique technique = Technique::Smooth;
  bool up = true;        // the direction: raised, or sunk when false
  double depth = 1;      // 'srgR' as a fraction
  double size = 5;       // pixels
  double soften = 0;     // pixels
  double angle = 120;    // degrees, where the light comes from
  double altitude = 30;  // degrees above the surface
  Contour gloss = LinearContour();
  std::optional<Contour> profile;  // 'MpgS' when 'useShape': the bevel's cross-section, height by position across it
  BlendMode highlightMode = BlendMode::Screen;
  BlendMode shadowMode = BlendMode::Multiply;
  float highlightOpacity = 0.75f, shadowOpacity = 0.75f;
  float highlightColour[4] = {1, 1, 1, 1};
  float shadowColour[4] = {0, 0, 0, 0};
  std::optional<BevelTexture> texture;
};

// A bevel's settings ('ebbl'); empty when its modes or colours cannot be
// read or its texture's pattern is not in the file.
std::optional<BevelSettings> ReadBevel(const DescriptorValue& effect, const EffectContext& context);

// How much of the highlight and of the shadow lies on each pixel of `shape.rect`.
struct BevelLight {
  std::vector<float> highlight, shadow;
};
BevelLight LightBevel(const BevelSettings& bevel, const ShapePlane& shape);

// The stroke a stroke emboss raises: the style's topmost enabled stroke; empty when there is none.
std::optional<StrokeSettings> EmbossedStroke(const EffectContext& context);

// The bevel as an effect of the style table: its shadow's paint, then its
// highlight's. A stroke emboss is an inner bevel on the band of the stroke.
std::optional<DrawableEffect> ReadBevelEffect(const DescriptorValue& settings, const EffectContext& context);

}  // namespace kestrel
