#include "engine/composite/distance_field.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel {
namespace {

constexpr double kFar = std::numeric_limits<double>::infinity();

// The lower envelope of the parabolas (x - q)^2 + f[q] over q = 0..n-1 with
// finite f[q]: for each x, the q that is lowest there, or -1 when none is finite.
void LowerEnvelope(const std::vector<double>& f, std::int64_t n, std::vector<std::int64_t>& best,
                   std::vector<std::int64_t>& v, std::vector<double>& z) {
  std::int64_t k = -1;
  for (std::int64_t q = 0; q < n; ++q) {
    if (!std::isfinite(f[static_cast<std::size_t>(q)])) continue;
    const double fq = f[static_cast<std::size_t>(q)] + static_cast<double>(q * q);
    double s = -kFar;
    while (k >= 0) {
      const std::int64_t p = v[static_cast<std::size_t>(k)];
      s = (fq - (f[static_cast<std::size_t>(p)] + static_cast<double>(p * p))) / static_cast<double>(2 * (q - p));
      if (s > z[static_cast<std::size_t>(k)]) break;
      --k;
    }
    ++k;
    v[static_cast<std::size_t>(k)] = q;
    z[static_cast<std::size_t>(k)] = k == 0 ? -kFar : s;
    z[static_cast<std::size_t>(k) + 1] = kFar;
  }
  std::int64_t at = 0;
  for (std::int64_t x = 0; x < n; ++x) {
    if (k < 0) {
      best[static_cast<std::size_t>(x)] = -1;
      continue;
    }
    while (z[static_cast<std::size_t>(at) + 1] < static_cast<double>(x)) ++at;
    best[static_cast<std::size_t>(x)] = v[static_cast<std::size_t>(at)];
  }
}

}  // namespace

NearestPixels FindNearest(const std::vector<std::uint8_t>& inside, std::int64_t width, std::int64_t height) {
  const auto pixels = static_cast<std::size_t>(width * height);
  NearestPixels out{std::vector<float>(pixels, std::numeric_limits<float>::infinity()), std::vector<std::int64_t>(pixels, -1)};
  if (width <= 0 || height <= 0) return out;
  // Down each column: the row of the nearest set pixel in that column.
  std::vector<std::int64_t> row(pixels, -1);
  for (std::int64_t x = 0; x < width; ++x) {
    std::int64_t last = -1;
    for (std::int64_t y = 0; y < height; ++y) {
      if (inside[static_cast<std::size_t>(y * width + x)] != 0) last = y;
      row[static_cast<std::size_t>(y * width + x)] = last;
    }
    last = -1;
    for (std::int64_t y = height - 1; y >= 0; --y) {
      const auto at = static_cast<std::size_t>(y * width + x);
      if (inside[at] != 0) last = y;
      if (last >= 0 && (row[at] < 0 || last - y < y - row[at])) row[at] = last;
    }
  }
  // Along each row: the column whose nearest set pixel is nearest.
  const std::int64_t n = std::max(width, height);
  std::vector<double> f(static_cast<std::size_t>(width));
  std::vector<std::int64_t> best(static_cast<std::size_t>(width)), v(static_cast<std::size_t>(n));
  std::vector<double> z(static_cast<std::size_t>(n) + 1);
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const std::int64_t r = row[static_cast<std::size_t>(y * width + x)];
      f[static_cast<std::size_t>(x)] = r < 0 ? kFar : static_cast<double>((r - y) * (r - y));
    }
    LowerEnvelope(f, width, best, v, z);
    for (std::int64_t x = 0; x < width; ++x) {
      const std::int64_t q = best[static_cast<std::size_t>(x)];
      if (q < 0) continue;
      const auto at = static_cast<std::size_t>(y * width + x);
      const double dx = static_cast<double>(x - q);
      out.distance[at] = static_cast<float>(std::sqrt(dx * dx + f[static_cast<std::size_t>(q)]));
      out.nearest[at] = row[static_cast<std::size_t>(y * width + q)] * width + q;
    }
  }
  return out;
}

std::vector<float> Grown(const std::vector<float>& alpha, std::int64_t width, std::int64_t height, double radius) {
  // A pixel of alpha a reaches radius + a - 1/2 beyond its centre. The
  // farthest reach is looked for from the nearest pixel at least half
  // covered, and from the nearest one covered at all (which is all a thin
  // point of a shape has).
  std::vector<float> grown(alpha);
  for (const float least : {0.5f, 1.0f / 64}) {
    std::vector<std::uint8_t> inside(alpha.size());
    for (std::size_t i = 0; i < alpha.size(); ++i) inside[i] = alpha[i] >= least ? 1 : 0;
    const NearestPixels near = FindNearest(inside, width, height);
    for (std::size_t i = 0; i < alpha.size(); ++i) {
      if (near.nearest[i] < 0) continue;
      const double reach = radius + alpha[static_cast<std::size_t>(near.nearest[i])] - near.distance[i];
      grown[i] = std::max(grown[i], static_cast<float>(std::clamp(reach, 0.0, 1.0)));
    }
  }
  return grown;
}

}  // namespace kestrel
