// Hue, saturation and lightness of an RGB pixel (fractions; hue in degrees),
// and back, as the adjustments that move them use.
#pragma once

#include <algorithm>
#include <cmath>

namespace kestrel {

struct Hsl {
  float h = 0, s = 0, l = 0;  // h in degrees
};

inline Hsl HslOf(const float* p) {
  const float mx = std::max({p[0], p[1], p[2]}), mn = std::min({p[0], p[1], p[2]});
  Hsl c;
  c.l = (mx + mn) / 2;
  const float d = mx - mn;
  if (d <= 0) return c;
  c.s = c.l <= 0.5f ? d / (mx + mn) : d / (2 - mx - mn);
  float h;
  if (mx == p[0]) h = (p[1] - p[2]) / d;
  else if (mx == p[1]) h = 2 + (p[2] - p[0]) / d;
  else h = 4 + (p[0] - p[1]) / d;
  c.h = 60 * h;
  if (c.h < 0) c.h += 360;
  return c;
}

inline void RgbOf(const Hsl& c, float* p) {
  if (c.s <= 0) {
    p[0] = p[1] = p[2] = c.l;
    return;
  }
  const float q = c.l < 0.5f ? c.l * (1 + c.s) : c.l + c.s - c.l * c.s;
  const float m = 2 * c.l - q;
  const auto channel = [&](float h) {
    h -= 360 * std::floor(h / 360);
    if (h < 60) return m + (q - m) * h / 60;
    if (h < 180) return q;
    if (h < 240) return m + (q - m) * (240 - h) / 60;
    return m;
  };
  p[0] = channel(c.h + 120);
  p[1] = channel(c.h);
  p[2] = channel(c.h - 120);
}

}  // namespace kestrel
