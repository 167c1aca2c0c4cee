#include "engine/composite/vector_mask.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace kestrel {
namespace {

constexpr int kSamplesDown = 8;
constexpr int kCurveSteps = 16;

struct Edge {
  double x0, y0, x1, y1;
};

// Subpaths as straight edges: each curve from a knot's anchor, by its
// leaving and the next knot's arriving control points, in even steps.
std::vector<Edge> Flatten(std::span<const PathComponent> components) {
  std::vector<Edge> edges;
  for (const PathComponent& component : components) {
    const std::vector<PathKnot>& path = component.knots;
    for (std::size_t i = 0; i < path.size(); ++i) {
      const PathKnot& a = path[i];
      const PathKnot& b = path[(i + 1) % path.size()];
      PathPoint previous = a.anchor;
      for (int step = 1; step <= kCurveSteps; ++step) {
        const double t = static_cast<double>(step) / kCurveSteps;
        const double u = 1 - t;
        const PathPoint p{u * u * u * a.anchor.x + 3 * u * u * t * a.after.x + 3 * u * t * t * b.before.x +
                              t * t * t * b.anchor.x,
                          u * u * u * a.anchor.y + 3 * u * u * t * a.after.y + 3 * u * t * t * b.before.y +
                              t * t * t * b.anchor.y};
        if (p.y != previous.y) edges.push_back(Edge{previous.x, previous.y, p.x, p.y});
        previous = p;
      }
    }
  }
  return edges;
}

// Adds `weight` of cover to row over [from, to) in pixel units, partial at the ends.
void AddSpan(std::vector<float>& row, double from, double to, float weight) {
  const double width = static_cast<double>(row.size());
  from = std::clamp(from, 0.0, width);
  to = std::clamp(to, 0.0, width);
  if (to <= from) return;
  const auto first = static_cast<std::size_t>(from);
  const auto last = static_cast<std::size_t>(to);
  if (first == last) {
    row[first] += static_cast<float>((to - from) * weight);
    return;
  }
  row[first] += static_cast<float>((first + 1 - from) * weight);
  for (std::size_t x = first + 1; x < last && x < row.size(); ++x) row[x] += weight;
  if (last < row.size()) row[last] += static_cast<float>((to - last) * weight);
}

// The coverage of one shape component, filled by the even-odd rule.
std::vector<float> Plane(std::span<const PathComponent> components, const PsdRect& area) {
  const auto width = static_cast<std::size_t>(area.Width());
  const auto height = static_cast<std::size_t>(area.Height());
  std::vector<float> coverage(width * height, 0.0f);
  std::vector<Edge> edges = Flatten(components);
  // Edges by where they start, so each row looks only at those that span it.
  std::sort(edges.begin(), edges.end(),
            [](const Edge& a, const Edge& b) { return std::min(a.y0, a.y1) < std::min(b.y0, b.y1); });
  std::size_t next = 0;
  std::vector<Edge> active;
  std::vector<double> crossings;
  std::vector<float> row(width);
  for (std::size_t y = 0; y < height; ++y) {
    std::fill(row.begin(), row.end(), 0.0f);
    const double rowTop = area.top + static_cast<double>(y);
    std::erase_if(active, [rowTop](const Edge& e) { return std::max(e.y0, e.y1) <= rowTop; });
    while (next < edges.size() && std::min(edges[next].y0, edges[next].y1) < rowTop + 1) {
      if (std::max(edges[next].y0, edges[next].y1) > rowTop) active.push_back(edges[next]);
      ++next;
    }
    for (int s = 0; s < kSamplesDown; ++s) {
      const double sy = rowTop + (s + 0.5) / kSamplesDown;
      crossings.clear();
      for (const Edge& e : active) {
        if ((sy >= e.y0 && sy < e.y1) || (sy >= e.y1 && sy < e.y0)) {
          crossings.push_back(e.x0 + (sy - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0) - area.left);
        }
      }
      std::sort(crossings.begin(), crossings.end());
      for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
        AddSpan(row, crossings[i], crossings[i + 1], 1.0f / kSamplesDown);
      }
    }
    for (std::size_t x = 0; x < width; ++x) coverage[y * width + x] = std::clamp(row[x], 0.0f, 1.0f);
  }
  return coverage;
}

}  // namespace

bool VectorMaskCutsPixels(const PsdLayer& layer) {
  return layer.hasVectorMask && !layer.vectorMask.disabled && !layer.isFill && !layer.drawnFromShape;
}

std::vector<float> RasteriseVectorMask(const PsdVectorMask& mask, const PsdRect& area) {
  std::vector<float> shape(static_cast<std::size_t>(area.Width() * area.Height()), 0.0f);
  const std::span<const PathComponent> all(mask.subpaths);
  bool first = true;
  for (std::size_t i = 0; i < all.size();) {
    // A component is a subpath with the ones marked as belonging to it.
    std::size_t end = i + 1;
    while (end < all.size() && all[end].operation == -1) ++end;
    const std::vector<float> plane = Plane(all.subspan(i, end - i), area);
    const int operation = all[i].operation;
    if (first && (operation == 2 || operation == 3)) std::fill(shape.begin(), shape.end(), 1.0f);
    for (std::size_t p = 0; p < shape.size(); ++p) {
      const float m = shape[p];
      const float v = plane[p];
      switch (operation) {
        case 0: shape[p] = m + v - 2 * m * v; break;
        case 2: shape[p] = std::max(0.0f, m - v); break;
        case 3: shape[p] = m * v; break;
        default: shape[p] = m + v - m * v; break;
      }
    }
    first = false;
    i = end;
  }
  if (mask.inverted) {
    for (float& v : shape) v = 1 - v;
  }
  return shape;
}

PsdRect VectorMaskBounds(const PsdVectorMask& mask, const PsdRect& canvas) {
  double left = 1e18, top = 1e18, right = -1e18, bottom = -1e18;
  for (const PathComponent& component : mask.subpaths) {
    for (const PathKnot& k : component.knots) {
      for (const PathPoint& p : {k.before, k.anchor, k.after}) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
      }
    }
  }
  if (mask.inverted) return canvas;
  if (right < left) return PsdRect{};
  // Points are stored as fractions of the canvas: a knot on a pixel edge may
  // land a hair beyond it, which must not add a column or row.
  constexpr double kSlack = 1e-4;
  PsdRect r;
  r.left = static_cast<std::int32_t>(std::clamp(std::floor(left + kSlack), double(canvas.left), double(canvas.right)));
  r.right = static_cast<std::int32_t>(std::clamp(std::ceil(right - kSlack), double(canvas.left), double(canvas.right)));
  r.top = static_cast<std::int32_t>(std::clamp(std::floor(top + kSlack), double(canvas.top), double(canvas.bottom)));
  r.bottom = static_cast<std::int32_t>(std::clamp(std::ceil(bottom - kSlack), double(canvas.top), double(canvas.bottom)));
  if (r.Width() == 0 || r.Height() == 0) return PsdRect{};
  return r;
}

}  // namespace kestrel
