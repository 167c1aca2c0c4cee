// The soft effects: drop and inner shadows, outer and inner glows, satin.
// Each is the layer's shape moved, spread (or choked), blurred and mapped
// through a contour, in one colour (a glow may take a gradient's instead).
#pragma once

#include <optional>

#include "engine/composite/effect_kinds.h"

namespace kestrel {

std::optional<DrawableEffect> ReadDropShadow(const DescriptorValue& settings, const EffectContext& context);
std::optional<DrawableEffect> ReadInnerShadow(const DescriptorValue& settings, const EffectContext& context);
std::optional<DrawableEffect> ReadOuterGlow(const DescriptorValue& settings, const EffectContext& context);
std::optional<DrawableEffect> ReadInnerGlow(const DescriptorValue& settings, const EffectContext& context);
std::optional<DrawableEffect> ReadSatin(const DescriptorValue& settings, const EffectContext& context);

}  // namespace kestrel
