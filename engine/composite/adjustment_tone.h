// The adjustments that move each channel by a curve of its own: brightness
// and contrast, and colour balance. Each gives a table per channel over
// `size` evenly spaced samples from 0 to 1.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/byte_reader.h"

namespace kestrel {

using ToneTable = std::vector<float>;

// f over `size` evenly spaced samples from 0 to 1, clamped to 0..1.
template <typename F>
ToneTable TabulateTone(std::size_t size, F f) {
  ToneTable table(size);
  for (std::size_t i = 0; i < size; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(size - 1);
    table[i] = static_cast<float>(std::clamp(static_cast<double>(f(t)), 0.0, 1.0));
  }
  return table;
}

struct BrightnessContrast {
  double brightness = 0;  // -150..150 (-100..100 in the legacy formula)
  double contrast = 0;    // -50..100 (-100..100 in the legacy formula)
  double mean = 127;      // the picture's mean level when the setting was made, 0..255
  bool legacy = false;
};

ToneTable BrightnessContrastTable(const BrightnessContrast& settings, std::size_t size);

// Colour balance: the three tonal ranges' shifts (cyan-red, magenta-green,
// yellow-blue; -100..100 each) as one table per RGB channel.
std::optional<std::array<ToneTable, 3>> ReadColourBalance(ByteReader in, std::size_t size);

}  // namespace kestrel
