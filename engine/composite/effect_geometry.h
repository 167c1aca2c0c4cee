// The plane operations soft layer effects are made of: moving a plane,
// spreading it (growing its opaque part), blurring it as Photoshop's soft
// edges look (three box blurs, close to a Gaussian), a precise fall-off by
// distance, and contours (curves mapping an effect's opacity).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/composite/effect_plane.h"
#include "engine/psd/descriptor.h"

namespace kestrel {

// A plane of values over a rectangle, row by row; `outside` is its value beyond the rectangle.
struct EffectPlane {
  std::int64_t width = 0, height = 0;
  std::vector<float> v;
  float outside = 0;
};

// The shape's alpha, or 1 - alpha when `inverse`, moved by (dx, dy) whole
// pixels, over its rectangle grown by `pad` on every side (so that what lies
// beyond the rectangle takes part in spreading and blurring).
EffectPlane ShapeMoved(const ShapePlane& shape, int dx, int dy, bool inverse, int pad = 0);
// The plane without `pad` pixels on every side.
std::vector<float> Unpadded(EffectPlane&& plane, int pad);

// Grows the opaque part of the plane by `radius` pixels (round corners).
void Spread(EffectPlane& plane, float radius);

// Blurs the plane so that an edge fades over about `size` pixels on either side.
void SoftBlur(EffectPlane& plane, float size);

// Blurs the plane as a glow's soft technique does: an edge fades over exactly
// `size` pixels on either side (a triangle of two box blurs).
void GlowBlur(EffectPlane& plane, float size);

// Each pixel's fall-off by its distance from the shape's opaque part: 1 on
// it, down to 0 at `size` pixels from it (the "precise" technique).
void PreciseFalloff(EffectPlane& plane, float size);

// A contour: 256 steps mapping an effect's opacity (0..1) to another.
using Contour = std::array<float, 256>;
Contour LinearContour();
// The contour item `key` of an effect's descriptor (a curve of points 0..255), linear when absent.
Contour ReadContour(const DescriptorValue& effect, const char* key);
// The contour's value at `value` (0..1), between its steps.
float ContourAt(const Contour& contour, float value);
void ApplyContour(EffectPlane& plane, const Contour& contour);

// An effect's offset from its angle (degrees, counter-clockwise from the
// right, where the light comes from) and distance: the paint moves away from the light.
void LightOffset(double angle, double distance, int& dx, int& dy);

}  // namespace kestrel
