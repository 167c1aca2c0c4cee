#include "engine/composite/effect_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/composite/natural_spline.h"

namespace kestrel {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Three box passes of this radius per pixel of size match the fall-off of Photoshop's soft effects.
constexpr float kBoxPerSize = 0.36f;

// One box pass of radius r (fractional: the two end samples count by the
// fraction) along a line of `n` values `stride` apart, `outside` beyond it.
void BoxLine(float* line, std::int64_t n, std::int64_t stride, float r, float outside, std::vector<float>& scratch) {
  const auto whole = static_cast<std::int64_t>(r);
  const float part = r - static_cast<float>(whole);
  const float scale = 1.0f / (2 * r + 1);
  scratch.resize(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) scratch[static_cast<std::size_t>(i)] = line[i * stride];
  const auto at = [&](std::int64_t i) { return i < 0 || i >= n ? outside : scratch[static_cast<std::size_t>(i)]; };
  double sum = 0;
  for (std::int64_t i = -whole; i <= whole; ++i) sum += at(i);
  for (std::int64_t i = 0; i < n; ++i) {
    const double edges = part > 0 ? part * (at(i - whole - 1) + at(i + whole + 1)) : 0.0;
    line[i * stride] = static_cast<float>((sum + edges) * scale);
    sum += at(i + whole + 1) - at(i - whole);
  }
}

// Squared distance transform of one line (Felzenszwalb and Huttenlocher):
// f holds 0 on the shape and infinity elsewhere, or squared distances so far.
void DistanceLine(const float* f, std::int64_t n, float* d, std::vector<std::int64_t>& v, std::vector<float>& z) {
  v.resize(static_cast<std::size_t>(n));
  z.resize(static_cast<std::size_t>(n + 1));
  constexpr float kFar = std::numeric_limits<float>::max();
  std::int64_t k = -1;
  for (std::int64_t q = 0; q < n; ++q) {
    if (f[q] >= kFar) continue;
    float s = 0;
    while (k >= 0) {
      const std::int64_t p = v[static_cast<std::size_t>(k)];
      s = ((f[q] + static_cast<float>(q * q)) - (f[p] + static_cast<float>(p * p))) / static_cast<float>(2 * (q - p));
      if (s > z[static_cast<std::size_t>(k)]) break;
      --k;
    }
    ++k;
    v[static_cast<std::size_t>(k)] = q;
    z[static_cast<std::size_t>(k)] = k == 0 ? -kFar : s;
    z[static_cast<std::size_t>(k + 1)] = kFar;
  }
  if (k < 0) {
    std::fill(d, d + n, kFar);
    return;
  }
  std::int64_t j = 0;
  for (std::int64_t q = 0; q < n; ++q) {
    while (z[static_cast<std::size_t>(j + 1)] < static_cast<float>(q)) ++j;
    const std::int64_t p = v[static_cast<std::size_t>(j)];
    d[q] = static_cast<float>((q - p) * (q - p)) + f[p];
  }
}

// Each pixel's distance to the nearest pixel of the plane at half or more.
std::vector<float> DistanceToShape(const EffectPlane& plane) {
  constexpr float kFar = std::numeric_limits<float>::max();
  const std::int64_t w = plane.width, h = plane.height;
  std::vector<float> d(plane.v.size());
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = plane.v[i] >= 0.5f ? 0.0f : kFar;
  std::vector<float> in(static_cast<std::size_t>(std::max(w, h))), out(in.size()), z;
  std::vector<std::int64_t> v;
  for (std::int64_t x = 0; x < w; ++x) {
    for (std::int64_t y = 0; y < h; ++y) in[static_cast<std::size_t>(y)] = d[static_cast<std::size_t>(y * w + x)];
    DistanceLine(in.data(), h, out.data(), v, z);
    for (std::int64_t y = 0; y < h; ++y) d[static_cast<std::size_t>(y * w + x)] = out[static_cast<std::size_t>(y)];
  }
  for (std::int64_t y = 0; y < h; ++y) {
    float* row = d.data() + y * w;
    std::copy(row, row + w, in.begin());
    DistanceLine(in.data(), w, row, v, z);
  }
  for (float& value : d) value = value >= kFar ? kFar : std::sqrt(value);
  return d;
}

}  // namespace

EffectPlane ShapeMoved(const ShapePlane& shape, int dx, int dy, bool inverse, int pad) {
  EffectPlane plane{shape.rect.Width() + 2 * pad, shape.rect.Height() + 2 * pad, {}, inverse ? 1.0f : 0.0f};
  plane.v.resize(static_cast<std::size_t>(plane.width * plane.height));
  const std::int64_t left = shape.rect.left - pad - dx, top = shape.rect.top - pad - dy;
  for (std::int64_t y = 0; y < plane.height; ++y) {
    for (std::int64_t x = 0; x < plane.width; ++x) {
      const float a = shape.At(left + x, top + y);
      plane.v[static_cast<std::size_t>(y * plane.width + x)] = inverse ? 1 - a : a;
    }
  }
  return plane;
}

std::vector<float> Unpadded(EffectPlane&& plane, int pad) {
  if (pad == 0) return std::move(plane.v);
  const std::int64_t width = plane.width - 2 * pad, height = plane.height - 2 * pad;
  std::vector<float> out(static_cast<std::size_t>(std::max<std::int64_t>(width * height, 0)));
  for (std::int64_t y = 0; y < height; ++y) {
    const float* from = plane.v.data() + (y + pad) * plane.width + pad;
    std::copy(from, from + width, out.begin() + y * width);
  }
  return out;
}

void Spread(EffectPlane& plane, float radius) {
  if (radius <= 0 || plane.v.empty()) return;
  const std::vector<float> d = DistanceToShape(plane);
  for (std::size_t i = 0; i < d.size(); ++i) {
    plane.v[i] = std::max(plane.v[i], std::clamp(radius + 1 - d[i], 0.0f, 1.0f));
  }
}

namespace {

// `passes` box blurs of radius r, along the rows and the columns.
void BoxBlurs(EffectPlane& plane, float r, int passes) {
  if (r <= 0 || plane.v.empty()) return;
  // Box blurs commute: three passes along the rows, then three along the
  // columns of the plane turned on its side, which keeps each pass in order in memory.
  std::vector<float> scratch;
  const auto rows = [&](std::vector<float>& v, std::int64_t width, std::int64_t height) {
    for (int pass = 0; pass < passes; ++pass) {
      for (std::int64_t y = 0; y < height; ++y) BoxLine(v.data() + y * width, width, 1, r, plane.outside, scratch);
    }
  };
  const auto turned = [](const std::vector<float>& v, std::int64_t width, std::int64_t height) {
    std::vector<float> out(v.size());
    for (std::int64_t y = 0; y < height; ++y) {
      for (std::int64_t x = 0; x < width; ++x) {
        out[static_cast<std::size_t>(x * height + y)] = v[static_cast<std::size_t>(y * width + x)];
      }
    }
    return out;
  };
  rows(plane.v, plane.width, plane.height);
  std::vector<float> side = turned(plane.v, plane.width, plane.height);
  rows(side, plane.height, plane.width);
  plane.v = turned(side, plane.height, plane.width);
}

}  // namespace

void SoftBlur(EffectPlane& plane, float size) { BoxBlurs(plane, size * kBoxPerSize, 3); }

// Two boxes of half the size make a triangle reaching `size` pixels: an edge
// fades as 1 - (1 - d/size)^2 / 2 towards it and (1 - d/size)^2 / 2 beyond it.
void GlowBlur(EffectPlane& plane, float size) { BoxBlurs(plane, (size - 1) / 2, 2); }

void PreciseFalloff(EffectPlane& plane, float size) {
  if (plane.v.empty()) return;
  const std::vector<float> d = DistanceToShape(plane);
  const float span = std::max(size, 1.0f);
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (d[i] > 0) plane.v[i] = std::max(plane.v[i], std::clamp(1 - (d[i] - 0.5f) / span, 0.0f, 1.0f));
  }
}

Contour LinearContour() {
  Contour c;
  for (int i = 0; i < 256; ++i) c[static_cast<std::size_t>(i)] = static_cast<float>(i) / 255;
  return c;
}

Contour ReadContour(const DescriptorValue& effect, const char* key) {
  const DescriptorValue* contour = effect.Find(key);
  const DescriptorValue* curve = contour != nullptr ? contour->Find("Crv ") : nullptr;
  if (curve == nullptr || curve->list.size() < 2) return LinearContour();
  struct Point {
    double x, y;
    bool corner;
  };
  std::vector<Point> points;
  for (const DescriptorValue& p : curve->list) {
    points.push_back({std::clamp(p.NumberOr("Hrzn", 0), 0.0, 255.0), std::clamp(p.NumberOr("Vrtc", 0), 0.0, 255.0),
                      !p.BooleanOr("Cnty", true)});
  }
  std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
  // A natural cubic spline through each run of smooth points, broken at
  // corners (a run of two points is straight); beyond the ends, level.
  Contour c{};
  std::size_t first = 0;
  while (first + 1 < points.size()) {
    std::size_t last = first + 1;
    while (last + 1 < points.size() && !points[last].corner) ++last;
    std::vector<double> xs, ys;
    for (std::size_t k = first; k <= last; ++k) {
      xs.push_back(points[k].x);
      ys.push_back(points[k].y);
    }
    const NaturalSpline spline(std::move(xs), std::move(ys));
    const int from = first == 0 ? 0 : static_cast<int>(std::ceil(points[first].x));
    const int to = last + 1 == points.size() ? 255 : static_cast<int>(std::ceil(points[last].x)) - 1;
    for (int i = std::max(from, 0); i <= std::min(to, 255); ++i) {
      c[static_cast<std::size_t>(i)] = static_cast<float>(std::clamp(spline(i), 0.0, 255.0) / 255);
    }
    first = last;
  }
  return c;
}

float ContourAt(const Contour& contour, float value) {
  const float at = std::clamp(value, 0.0f, 1.0f) * 255;
  const auto i = static_cast<std::size_t>(at);
  const float f = at - static_cast<float>(i);
  return i >= 255 ? contour[255] : contour[i] + (contour[i + 1] - contour[i]) * f;
}

void ApplyContour(EffectPlane& plane, const Contour& contour) {
  if (contour == LinearContour()) return;
  for (float& value : plane.v) value = ContourAt(contour, value);
}

void LightOffset(double angle, double distance, int& dx, int& dy) {
  const double radians = angle * kPi / 180;
  dx = static_cast<int>(std::lround(-std::cos(radians) * distance));
  dy = static_cast<int>(std::lround(std::sin(radians) * distance));
}

}  // namespace kestrel
