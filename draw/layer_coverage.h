// Coverage masks from Cairo: how much of each pixel a filled polygon or a
// line of text covers, 0..255, with the layer's pixel-edge coordinates.
#pragma once

#include <span>

#include "draw/layer.h"

typedef struct _PangoLayout PangoLayout;

namespace kestrel {

struct PointF {
  double x = 0;
  double y = 0;
};

// The coverage of a closed polygon (antialiased edges) over a width x height
// window whose top-left pixel is (originX, originY) in the polygon's
// coordinates. Integer origins make a window's values equal to those of the
// same pixels in a larger window. Empty (width 0) when Cairo fails.
Coverage PolygonCoverage(int width, int height, int originX, int originY, std::span<const PointF> polygon);

// The coverage of a laid-out line of text drawn with the top-left corner of
// its logical box at (x, y), over a width x height window whose top-left pixel
// is (originX, originY). The layout's context decides antialiasing;
// `antialias` also governs underline and strike-out bars.
Coverage TextCoverage(int width, int height, int originX, int originY, PangoLayout* layout, int x, int y,
                      bool antialias);

}  // namespace kestrel
