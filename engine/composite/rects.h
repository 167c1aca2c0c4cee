// Rectangles of the picture the compositor works over: the picture itself,
// where two rectangles overlap and the box around two. An empty rectangle
// (no width or no height) takes no part in a box.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

inline PsdRect PictureRect(const PsdHeader& header) {
  return PsdRect{0, 0, static_cast<std::int32_t>(header.height), static_cast<std::int32_t>(header.width)};
}

// The overlap of a and b; PsdRect{} when they do not overlap.
inline PsdRect Intersect(const PsdRect& a, const PsdRect& b) {
  const PsdRect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
                  std::min(a.right, b.right)};
  return r.Width() == 0 || r.Height() == 0 ? PsdRect{} : r;
}

inline PsdRect Union(const PsdRect& a, const PsdRect& b) {
  if (a.Width() == 0 || a.Height() == 0) return b;
  if (b.Width() == 0 || b.Height() == 0) return a;
  return PsdRect{std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
                 std::max(a.right, b.right)};
}

// `r` grown by `by` pixels on every side (an empty one stays empty).
inline PsdRect Grown(const PsdRect& r, int by) {
  if (by <= 0 || r.Width() == 0 || r.Height() == 0) return r;
  const auto grow = [by](std::int32_t v, int sign) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{v} + sign * std::int64_t{by}, INT32_MIN, INT32_MAX));
  };
  return PsdRect{grow(r.top, -1), grow(r.left, -1), grow(r.bottom, 1), grow(r.right, 1)};
}

}  // namespace kestrel
