// The settings every layer effect reads alike: its blend mode and opacity,
// and its enumerated settings (a stroke's position, a bevel's technique...)
// as tables of the descriptor's names for them.
#pragma once

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

#include "engine/composite/blend_modes.h"
#include "engine/psd/descriptor.h"

namespace kestrel {

template <typename T>
struct EffectName {
  std::string_view key;
  T value;
};

// The value the enumerated item `key` of `effect` names in `table`; the
// table's first value when the item is missing; empty for a name it lacks.
template <typename T>
std::optional<T> EnumeratedSetting(const DescriptorValue& effect, std::string_view key, std::span<const EffectName<T>> table) {
  const std::string_view name = effect.EnumOf(key);
  if (name.empty()) return table.front().value;
  for (const EffectName<T>& row : table) {
    if (row.key == name) return row.value;
  }
  return std::nullopt;
}

// How an effect is laid over what it covers.
struct EffectBlend {
  BlendMode mode = BlendMode::Normal;
  float opacity = 1;  // 0..1
};

// The blend mode (normal when the item is missing) and opacity of `effect`;
// empty for a mode the compositor does not know.
inline std::optional<EffectBlend> ReadEffectBlend(const DescriptorValue& effect) {
  const std::string_view name = effect.EnumOf("Md  ");
  const std::optional<BlendMode> mode = BlendModeFromName(name.empty() ? "Nrml" : name);
  if (!mode) return std::nullopt;
  return EffectBlend{*mode, static_cast<float>(std::clamp(effect.NumberOr("Opct", 100) / 100.0, 0.0, 1.0))};
}

}  // namespace kestrel
