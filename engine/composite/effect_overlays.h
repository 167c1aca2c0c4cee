// Colour and gradient overlays as effects: paint over the whole shape, in
// one colour or the gradient's.
#pragma once

#include <optional>

#include "engine/composite/effect_kinds.h"

namespace kestrel {

std::optional<DrawableEffect> ReadColourOverlay(const DescriptorValue& settings, const EffectContext& context);
std::optional<DrawableEffect> ReadGradientOverlay(const DescriptorValue& settings, const EffectContext& context);

}  // namespace kestrel
