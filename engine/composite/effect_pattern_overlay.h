// The pattern overlay effect: the file's stored pattern, repeated at its
// scale from its phase, painted over the whole shape.
#pragma once

#include <optional>

#include "engine/composite/effect_kinds.h"

namespace kestrel {

std::optional<DrawableEffect> ReadPatternOverlay(const DescriptorValue& settings, const EffectContext& context);

}  // namespace kestrel
