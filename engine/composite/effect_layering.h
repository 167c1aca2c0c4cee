// Lays a layer made whole together with its style: the effects below it
// onto what lies beneath, then the layer with the effects inside it painted
// on its pixels and those above it over them. Each effect's paint is made
// and laid in turn, so that no more than one is held at a time.
#pragma once

#include <vector>

#include "engine/composite/canvas.h"
#include "engine/composite/layer_effects.h"

namespace kestrel {

struct EffectLayering {
  BlendMode mode = BlendMode::Normal;  // the layer's
  float opacity = 1;                   // the layer's, over its pixels and effects alike
  float fillOpacity = 1;               // over its pixels only, and its interior effects when blended as a group
  bool blendInteriorAsGroup = false;
  bool maskHidesEffects = false;       // the mask cuts the effects too, rather than shaping them
  PsdRect bounds;                      // the layer's own box
  BlendSpace space = BlendSpace::Light;
};

// `whole`: the layer's pixels over its box grown by the style's reach;
// `mask`: its masks over `whole`'s rectangle, row by row (empty: none).
// `whole` is changed on the way.
template <typename T>
void LayWithEffects(const LayerStyle& style, const EffectLayering& how, Canvas<T>& whole,
                    const std::vector<float>& mask, Canvas<T>& dest);

}  // namespace kestrel
