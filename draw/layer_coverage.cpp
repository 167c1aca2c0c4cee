#include "draw/layer_coverage.h"

#include <pango/pangocairo.h>

#include <cstring>
#include <functional>
#include <memory>

namespace kestrel {
namespace {

struct SurfaceFree {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextFree {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Runs `draw` on a transparent A8 surface and copies its alpha out.
Coverage DrawCoverage(int width, int height, const std::function<void(cairo_t*)>& draw) {
  Coverage coverage;
  if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > kMaxLayerPixels) return coverage;
  std::unique_ptr<cairo_surface_t, SurfaceFree> surface(cairo_image_surface_create(CAIRO_FORMAT_A8, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return coverage;
  {
    std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return coverage;
    draw(cr.get());
  }
  cairo_surface_flush(surface.get());
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  coverage.width = width;
  coverage.height = height;
  coverage.values.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    std::memcpy(coverage.values.data() + static_cast<std::size_t>(y) * width, data + static_cast<std::size_t>(y) * stride,
                static_cast<std::size_t>(width));
  }
  return coverage;
}

}  // namespace

Coverage PolygonCoverage(int width, int height, int originX, int originY, std::span<const PointF> polygon) {
  return DrawCoverage(width, height, [&](cairo_t* cr) {
    if (polygon.empty()) return;
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_translate(cr, -originX, -originY);
    cairo_move_to(cr, polygon[0].x, polygon[0].y);
    for (std::size_t i = 1; i < polygon.size(); ++i) cairo_line_to(cr, polygon[i].x, polygon[i].y);
    cairo_close_path(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_fill(cr);
  });
}

Coverage TextCoverage(int width, int height, int originX, int originY, PangoLayout* layout, int x, int y,
                      bool antialias) {
  return DrawCoverage(width, height, [&](cairo_t* cr) {
    cairo_set_antialias(cr, antialias ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_move_to(cr, x - originX, y - originY);
    pango_cairo_show_layout(cr, layout);
  });
}

}  // namespace kestrel
