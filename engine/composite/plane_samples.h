// Samples of unpacked layer channels: big-endian, 8 or 16 bits unsigned, or
// 32-bit floats, one after another (1-bit channels, read only, hold eight
// samples to a byte with a set bit for black). Pixels that are drawn rather than
// decoded (fill layers, overlays) are written in the same form.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace kestrel {

inline float ReadPlaneSample(const std::uint8_t* plane, std::uint64_t index, int depth) {
  if (depth == 1) return (plane[index / 8] >> (7 - index % 8) & 1) != 0 ? 0.0f : 1.0f;
  if (depth == 8) return plane[index] / 255.0f;
  if (depth == 16) return (plane[2 * index] << 8 | plane[2 * index + 1]) / 65535.0f;
  const std::uint8_t* p = plane + 4 * index;
  const float value = std::bit_cast<float>(std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | p[2] << 8 | p[3]);
  return std::isfinite(value) ? value : 0.0f;
}

inline void WritePlaneSample(std::uint8_t* plane, std::uint64_t index, int depth, float value) {
  if (depth == 8) {
    // Rounded by adding a half: the values are never negative, and a call to lround costs more than the rest.
    plane[index] = static_cast<std::uint8_t>(std::clamp(value, 0.0f, 1.0f) * 255 + 0.5f);
  } else if (depth == 16) {
    const auto v = static_cast<std::uint16_t>(std::clamp(value, 0.0f, 1.0f) * 65535 + 0.5f);
    plane[2 * index] = static_cast<std::uint8_t>(v >> 8);
    plane[2 * index + 1] = static_cast<std::uint8_t>(v);
  } else {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k) plane[4 * index + static_cast<std::uint64_t>(k)] = static_cast<std::uint8_t>(bits >> (24 - 8 * k));
  }
}

// Sets `count` samples of a plane to `value` (opaque transparency, say).
inline void FillPlane(std::uint8_t* plane, std::uint64_t count, int depth, float value) {
  for (std::uint64_t i = 0; i < count; ++i) WritePlaneSample(plane, i, depth, value);
}

}  // namespace kestrel
