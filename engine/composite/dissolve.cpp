#include "engine/composite/dissolve.h"

namespace kestrel {

float DissolveNoise(std::int64_t x, std::int64_t y) {
  // An integer hash of the position (a multiply-xorshift mix) whose top 24
  // bits are evenly spread, so neighbouring pixels are unrelated.
  std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  h *= 0x94D049BB133111EBull;
  h ^= h >> 32;
  return static_cast<float>(h >> 40) * (1.0f / 16777216.0f);
}

void DissolveCoverage(std::int64_t y, std::int64_t left, std::span<float> coverage) {
  for (std::size_t i = 0; i < coverage.size(); ++i) {
    coverage[i] = DissolveNoise(left + static_cast<std::int64_t>(i), y) < coverage[i] ? 1.0f : 0.0f;
  }
}

}  // namespace kestrel
