// The stroke effect: a band along the edge of a layer's shape, outside it,
// inside it or centred on it, `size` pixels wide, filled with a colour, a
// gradient or a pattern. The band is the shape grown (or shrunk) by its
// width, measured with the Euclidean distance from the shape's edge, with
// the band's own edge anti-aliased.
#pragma once

#include <optional>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/composite/effect_kinds.h"
#include "engine/composite/effect_plane.h"
#include "engine/composite/gradients.h"
#include "engine/composite/patterns.h"
#include "engine/psd/descriptor.h"

namespace kestrel {

struct StrokeSettings {
  enum class Position { Outside, Inside, Centre };
  enum class Fill { Colour, Gradient, Pattern };
  Position position = Position::Outside;
  Fill fill = Fill::Colour;
  BlendMode mode = BlendMode::Normal;
  float opacity = 1;
  double size = 3;  // pixels
  bool overprint = false;
  float colour[4] = {0, 0, 0, 0};  // a colour stroke's colour, in the file's samples
  std::optional<Gradient> gradient;
  bool alignWithLayer = true;  // a gradient stroke spans the layer, otherwise the canvas
  std::optional<PatternChoice> pattern;
};

// A stroke's settings ('FrFX' or one of 'frameFXMulti'); empty when they
// name a mode, fill or colour that cannot be drawn.
std::optional<StrokeSettings> ReadStroke(const DescriptorValue& effect, const DescriptorColours& colours);

// How far a stroke reaches beyond its shape, in whole pixels.
int StrokeReach(const StrokeSettings& stroke);

// Where the stroke covers: over `shape.rect` grown by the stroke's reach.
// `coverage` is 0..1 per pixel, row by row.
std::vector<float> StrokeCoverage(const StrokeSettings& stroke, const ShapePlane& shape, PsdRect& rect);

// The stroke's paint over its shape. `layer` is the box a gradient aligned
// with the layer is laid over, `canvas` the picture's; `patterns` finds a
// pattern stroke's pattern. Empty when the pattern is missing.
std::optional<EffectPaint> PaintStroke(const StrokeSettings& stroke, const ShapePlane& shape, const PsdRect& layer,
                                       const PsdRect& canvas, int channels, const PatternLibrary* patterns);

// The stroke as an effect of the style table.
std::optional<DrawableEffect> ReadStrokeEffect(const DescriptorValue& settings, const EffectContext& context);

}  // namespace kestrel
