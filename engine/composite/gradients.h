// Gradients as fill layers and gradient overlays describe them: colour and
// opacity stops with midpoints and smoothness, and a geometry (linear,
// radial, angle, reflected or diamond; angle, scale, offset, reverse) laid
// over a box of the canvas.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

struct GradientStop {
  double location = 0;  // 0..1
  double midpoint = 0.5;  // where, between this stop and the next, the mix is half and half
  float value[4] = {0, 0, 0, 0};  // colour in the file's samples, or opacity in value[0]
};

struct Gradient {
  enum class Style { Linear, Radial, Angle, Reflected, Diamond };
  Style style = Style::Linear;
  double angle = 90;     // degrees, counter-clockwise from the right
  double scale = 1;      // of the box's extent
  double offsetX = 0;    // of the box's width and height
  double offsetY = 0;
  bool reverse = false;
  double smoothness = 1;  // 0..1: how far the mix between stops eases in and out
  bool linearLight = false;  // RGB colours mix in linear light rather than as stored (gamma-encoded)
  // Where the ends go, in coordinates where pixel centres are whole. Both
  // put them on whole pixels, as Photoshop does, in two ways:
  enum class Ends {
    // The centre on the pixel at (or just before) the box's middle, each end
    // half the length from it, cut towards it to whole pixels: layer effects.
    FromCentrePixel,
    // Each end where it falls, rounded (halves to even): fill layers and gradient maps.
    Rounded,
  };
  Ends ends = Ends::FromCentrePixel;
  std::vector<GradientStop> colours;
  std::vector<GradientStop> opacities;
};

// The gradient of a gradient fill or overlay descriptor (items 'Type',
// 'Angl', 'Scl ', 'Ofst', 'Rvrs', 'Grad'), its colours in the file's
// samples. Empty for noise gradients and stops whose colours cannot be read.
std::optional<Gradient> ReadGradient(const DescriptorValue& settings, const DescriptorColours& colours);

// The gradient's colour (`channels` values) and opacity at z (0..1 from its
// first stop to its last; reversed when the gradient is).
void SampleGradient(const Gradient& gradient, double z, int channels, float* colour, float* opacity);

// Paints a gradient laid over `box`, area after area (a row at a time, say):
// `channels` colour values and one opacity per pixel, row by row.
class GradientPainter {
 public:
  // `pixels`: about how many pixels will be painted in all. For many, the
  // gradient is sampled once at fine, even steps, and each pixel mixes the
  // two around it.
  GradientPainter(const Gradient& gradient, const PsdRect& box, int channels, std::int64_t pixels);
  void Paint(const PsdRect& area, float* colour, float* opacity) const;

 private:
  static constexpr int kTableSteps = 4096;
  void FromTable(double z, float* colour, float* opacity) const;

  const Gradient& g_;
  int channels_;
  double fromX_ = 0, fromY_ = 0;  // where the gradient starts
  double ux_ = 0, uy_ = 0;        // the unit direction it runs in
  double span_ = 1;               // its length
  std::vector<float> table_;      // per step: the colour channels, then the opacity; empty when unused
};

// Paints `gradient` laid over `box` onto the pixels of `area`.
void PaintGradient(const Gradient& gradient, const PsdRect& box, const PsdRect& area, int channels, float* colour,
                   float* opacity);

}  // namespace kestrel
