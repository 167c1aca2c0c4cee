// The kinds of layer effect, in one table, and the reading of a layer's
// style through it.
//
// To add a kind of effect: write a reader, `std::optional<DrawableEffect>
// ReadX(const DescriptorValue& settings, const EffectContext& context)`,
// that gives how far the effect reaches beyond the layer's shape and a
// function from the layer's ShapePlane to its EffectPaints (empty optional
// when the settings cannot be drawn: the effect is then noted as not drawn),
// and put it in the kind's row of kEffectKinds in effect_kinds.cpp. A row
// says the effect's key in the style descriptor, the key of its list when a
// layer holds several, the name the user is told, where its paint goes and
// its place in the stacking order; a row without a reader is read as
// "not drawn".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/composite/blend_modes.h"
#include "engine/composite/effect_plane.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

struct PsdDocument;
class PatternLibrary;

// What every effect of a document may read besides its own settings.
struct EffectContext {
  const DescriptorColours& colours;  // colours in the file's samples
  BlendSpace space = BlendSpace::Light;
  int channels = 3;             // colour channels of the file
  PsdRect canvas;               // the whole picture
  double globalAngle = 120;     // degrees, the document's global light
  double globalAltitude = 30;   // degrees
  const PsdDocument* document = nullptr;  // for what the file keeps elsewhere (its patterns)
  const PatternLibrary* patterns = nullptr;  // the file's stored patterns
  PathPoint reference{};        // the layer's reference point (linked patterns start there)
  const DescriptorValue* style = nullptr;    // the whole layer style, while it is read (a stroke emboss reads the stroke)
};

// Where an effect's paint is laid.
enum class EffectPlace {
  Below,     // onto what lies beneath the layer, before the layer (shadows and glows outside it)
  Interior,  // onto the layer's own pixels, within its shape
  Above,     // over the layer, inside and out (strokes, bevels)
};

// One effect read and ready to draw.
struct DrawableEffect {
  int reach = 0;  // how many pixels beyond the layer's shape its paint may go
  std::function<std::vector<EffectPaint>(const ShapePlane&)> paint;
};

using EffectReader = std::optional<DrawableEffect> (*)(const DescriptorValue& settings, const EffectContext& context);

struct EffectKind {
  std::string_view key;       // in the style descriptor
  std::string_view multiKey;  // the list of several effects of this kind, or empty
  std::string_view name;      // as the user is told of it
  EffectPlace place;
  int order;                  // bottom to top within the layer's stack
  EffectReader read;          // null: not drawn
};

// Every kind, bottom to top.
std::span<const EffectKind> EffectKinds();

struct PlacedEffect {
  const EffectKind* kind = nullptr;
  DrawableEffect effect;
  const DescriptorValue* settings = nullptr;  // valid only while the style descriptor lives
};

struct StyleEffects {
  std::vector<PlacedEffect> effects;  // bottom to top
  std::vector<std::string> notDrawn;  // names of the enabled effects that could not be drawn, each once
  bool leftOut = false;               // the whole style could not be read
};

// The enabled effects of a style descriptor (lfx2), in stacking order. A
// style whose master switch is off has none.
StyleEffects ReadStyleEffects(const DescriptorValue& style, const EffectContext& context);

// Kinds named as EffectKind::name, as bits (bit i: the table's row i; the
// top bit: any other name, such as a style that could not be read), and back.
std::uint32_t EffectKindBits(const std::vector<std::string>& names);
std::vector<std::string> EffectKindNames(std::uint32_t bits);

// Whether an effect's descriptor is switched on.
bool EffectEnabled(const DescriptorValue& effect);

}  // namespace kestrel
