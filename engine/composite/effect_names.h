// The enumerated settings of layer effects (a stroke's position, a bevel's
// technique...) as tables of the descriptor's names for them.
#pragma once

#include <optional>
#include <span>
#include <string_view>

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

}  // namespace kestrel
