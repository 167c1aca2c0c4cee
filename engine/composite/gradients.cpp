#include "engine/composite/gradients.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/colour/display_samples.h"

namespace kestrel {
namespace {

// Stops that lie beyond each other's locations are put in order; a stop at
// the same place as the one before it replaces that one's end of the span.
std::optional<std::vector<GradientStop>> ReadStops(const DescriptorValue* list, const DescriptorColours* colours) {
  std::vector<GradientStop> stops;
  if (list == nullptr || list->type != DescriptorValue::Type::List) return stops;
  for (const DescriptorValue& item : list->list) {
    if (item.type != DescriptorValue::Type::Object) continue;
    GradientStop stop;
    stop.location = std::clamp(item.NumberOr("Lctn", 0) / 4096.0, 0.0, 1.0);
    stop.midpoint = std::clamp(item.NumberOr("Mdpn", 50) / 100.0, 0.01, 0.99);
    if (colours != nullptr) {
      const DescriptorValue* c = item.Find("Clr ");
      if (c != nullptr && !colours->Read(*c, stop.value)) return std::nullopt;
      // Foreground and background stops that name no colour take black and white.
      if (c == nullptr) colours->Neutral(item.EnumOf("Type") == "BckC", stop.value);
    } else {
      stop.value[0] = static_cast<float>(std::clamp(item.NumberOr("Opct", 100) / 100.0, 0.0, 1.0));
    }
    stops.push_back(stop);
  }
  std::stable_sort(stops.begin(), stops.end(),
                   [](const GradientStop& a, const GradientStop& b) { return a.location < b.location; });
  return stops;
}

// A stop's slope for smooth mixing, per span: the mean of the changes over
// the spans on either side of it, as if the stops were evenly spaced (beyond
// the ends the gradient is flat). Where a stop lies between a rise and a fall
// the slope is about nothing; beside a flat span it is half the other span's.
double StopSlope(const std::vector<GradientStop>& stops, std::size_t i, int k) {
  const double before = i > 0 ? stops[i].value[k] - stops[i - 1].value[k] : 0.0;
  const double after = i + 1 < stops.size() ? stops[i + 1].value[k] - stops[i].value[k] : 0.0;
  return (before + after) / 2;
}

// The mix between stops i and i + 1 at fraction t of the way, bent so that
// the midpoint mixes half and half: straight, or, as far as the smoothness
// goes, a cubic through both stops with each stop's slope (Photoshop's
// smooth gradients ease fully into a stop between a rise and a fall, and
// half way into one beside a flat span).
void Mix(const std::vector<GradientStop>& stops, std::size_t i, double t, double smoothness, int count, float* out) {
  const GradientStop& a = stops[i];
  const GradientStop& b = stops[i + 1];
  if (a.midpoint != 0.5) t = std::pow(t, std::log(0.5) / std::log(a.midpoint));
  const double t2 = t * t, t3 = t2 * t;
  const double h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
  for (int k = 0; k < count; ++k) {
    const double change = b.value[k] - a.value[k];
    const double curved = a.value[k] + change * h01 + StopSlope(stops, i, k) * h10 + StopSlope(stops, i + 1, k) * h11;
    const double straight = a.value[k] + change * t;
    out[k] = static_cast<float>(straight + (curved - straight) * smoothness);
  }
}

void Sample(const std::vector<GradientStop>& stops, double z, double smoothness, int count, float* out) {
  if (stops.empty()) {
    for (int k = 0; k < count; ++k) out[k] = 1.0f;
    return;
  }
  if (z <= stops.front().location) {
    std::copy_n(stops.front().value, count, out);
    return;
  }
  if (z >= stops.back().location) {
    std::copy_n(stops.back().value, count, out);
    return;
  }
  std::size_t i = 0;
  while (i + 2 < stops.size() && stops[i + 1].location <= z) ++i;
  const double span = stops[i + 1].location - stops[i].location;
  if (span <= 0) {
    std::copy_n(stops[i + 1].value, count, out);
    return;
  }
  Mix(stops, i, (z - stops[i].location) / span, smoothness, count, out);
}

// A gradient's colour (as shown, linear-light mixes turned back) and opacity at z.
void SampleShown(const Gradient& g, double z, int channels, float* colour, float* opacity) {
  float mixed[4];
  Sample(g.colours, z, g.smoothness, 4, mixed);
  if (g.linearLight) {
    for (float& v : mixed) v = LinearToSrgb(v);
  }
  std::copy_n(mixed, channels, colour);
  Sample(g.opacities, z, g.smoothness, 1, opacity);
}

}  // namespace

std::optional<Gradient> ReadGradient(const DescriptorValue& settings, const DescriptorColours& colourSpace) {
  const DescriptorValue* grad = settings.Find("Grad");
  if (grad == nullptr || grad->type != DescriptorValue::Type::Object) return std::nullopt;
  if (grad->EnumOf("GrdF") != "CstS") return std::nullopt;  // noise gradients are not drawn
  Gradient g;
  const std::string_view style = settings.EnumOf("Type");
  if (style == "Rdl ") g.style = Gradient::Style::Radial;
  else if (style == "Angl") g.style = Gradient::Style::Angle;
  else if (style == "Rflc") g.style = Gradient::Style::Reflected;
  else if (style == "Dmnd") g.style = Gradient::Style::Diamond;
  else if (!style.empty() && style != "Lnr ") return std::nullopt;
  g.angle = settings.NumberOr("Angl", 90);
  g.scale = std::clamp(settings.NumberOr("Scl ", 100) / 100.0, 0.01, 100.0);
  g.reverse = settings.BooleanOr("Rvrs", false);
  if (const DescriptorValue* offset = settings.Find("Ofst"); offset != nullptr) {
    g.offsetX = std::clamp(offset->NumberOr("Hrzn", 0) / 100.0, -100.0, 100.0);
    g.offsetY = std::clamp(offset->NumberOr("Vrtc", 0) / 100.0, -100.0, 100.0);
  }
  g.smoothness = std::clamp(grad->NumberOr("Intr", 4096) / 4096.0, 0.0, 1.0);
  std::optional<std::vector<GradientStop>> colours = ReadStops(grad->Find("Clrs"), &colourSpace);
  std::optional<std::vector<GradientStop>> opacities = ReadStops(grad->Find("Trns"), nullptr);
  if (!colours || !opacities || colours->empty()) return std::nullopt;
  g.colours = std::move(*colours);
  // Newer files may ask for the stops to mix in linear light (the sRGB curve undone).
  g.linearLight = settings.EnumOf("gs99") == "Lnr " && colourSpace.Mode() == kPsdModeRgb;
  if (g.linearLight) {
    for (GradientStop& stop : g.colours) {
      for (float& v : stop.value) v = SrgbToLinear(v);
    }
  }
  g.opacities = std::move(*opacities);
  return g;
}

void SampleGradient(const Gradient& g, double z, int channels, float* colour, float* opacity) {
  z = std::clamp(z, 0.0, 1.0);
  SampleShown(g, g.reverse ? 1 - z : z, channels, colour, opacity);
}

GradientPainter::GradientPainter(const Gradient& g, const PsdRect& box, int channels, std::int64_t pixels)
    : g_(g), channels_(channels) {
  const double width = static_cast<double>(box.Width());
  const double height = static_cast<double>(box.Height());
  const double cx = box.left + width * (0.5 + g.offsetX);
  const double cy = box.top + height * (0.5 + g.offsetY);
  const double radians = g.angle * std::numbers::pi / 180;
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  // The gradient runs along its angle through the box's centre, from edge to edge.
  const double reachX = std::abs(c) > 1e-9 ? width / std::abs(c) : INFINITY;
  const double reachY = std::abs(s) > 1e-9 ? height / std::abs(s) : INFINITY;
  const double length = std::max(std::min(reachX, reachY) * g.scale, 1e-6);
  // The gradient runs between two ends: a linear one's on either side of the
  // centre, the others' at the centre and half a length away from it.
  double centreX = cx - 0.5, centreY = cy - 0.5;
  double halfX = c * length / 2, halfY = -s * length / 2;
  if (g.ends == Gradient::Ends::FromCentrePixel) {
    centreX = std::floor(cx), centreY = std::floor(cy);
    halfX = std::trunc(halfX), halfY = std::trunc(halfY);
  }
  const double endX = centreX + halfX, endY = centreY + halfY;
  const bool linear = g.style == Gradient::Style::Linear;
  fromX_ = linear ? centreX - halfX : centreX;
  fromY_ = linear ? centreY - halfY : centreY;
  if (g.ends == Gradient::Ends::Rounded) {
    fromX_ = std::nearbyint(fromX_), fromY_ = std::nearbyint(fromY_);
    ux_ = std::nearbyint(endX) - fromX_, uy_ = std::nearbyint(endY) - fromY_;
  } else {
    ux_ = endX - fromX_, uy_ = endY - fromY_;
  }
  span_ = std::hypot(ux_, uy_);
  if (span_ < 1e-9) {  // both ends on one pixel: the unplaced direction over a pixel
    ux_ = c, uy_ = -s, span_ = 1;
  }
  ux_ /= span_, uy_ /= span_;
  // Many pixels take the mix of the two table points around them instead of
  // a sample of their own, which costs a power or two. The steps are far
  // finer than a sample's.
  if (pixels > 4 * kTableSteps) {
    table_.resize(static_cast<std::size_t>(kTableSteps + 1) * (channels + 1));
    for (int i = 0; i <= kTableSteps; ++i) {
      float* point = &table_[static_cast<std::size_t>(i) * (channels + 1)];
      SampleShown(g, static_cast<double>(i) / kTableSteps, channels, point, point + channels);
    }
  }
}

void GradientPainter::Paint(const PsdRect& area, float* colour, float* opacity) const {
  const Gradient& g = g_;
  // Along a row both coordinates move by a fixed step: y runs down the canvas, angles up.
  const double alongStep = ux_ / span_;
  const double acrossStep = -uy_ / span_;
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    const double dx0 = static_cast<double>(area.left) - fromX_;
    const double dy = static_cast<double>(y) - fromY_;
    const double along0 = (dx0 * ux_ + dy * uy_) / span_;
    const double across0 = (dy * ux_ - dx0 * uy_) / span_;
    for (std::int64_t i = 0; i < area.right - area.left; ++i) {
      const double along = along0 + static_cast<double>(i) * alongStep;
      const double across = across0 + static_cast<double>(i) * acrossStep;
      double z = 0;
      switch (g.style) {
        case Gradient::Style::Linear: z = along; break;
        case Gradient::Style::Reflected: z = std::abs(along); break;
        case Gradient::Style::Radial: z = std::hypot(along, across); break;
        case Gradient::Style::Diamond: z = std::abs(along) + std::abs(across); break;
        case Gradient::Style::Angle: {
          // Clockwise on the picture from the gradient's angle, as Photoshop
          // sweeps; the centre pixel takes the value to its right.
          const double turn = std::atan2(dy, dx0 + static_cast<double>(i)) / (2 * std::numbers::pi) + g.angle / 360;
          z = turn - std::floor(turn);
          break;
        }
      }
      z = std::clamp(z, 0.0, 1.0);
      if (g.reverse) z = 1 - z;
      if (table_.empty()) {
        SampleShown(g, z, channels_, colour, opacity);
      } else {
        FromTable(z, colour, opacity);
      }
      colour += channels_;
      ++opacity;
    }
  }
}

void GradientPainter::FromTable(double z, float* colour, float* opacity) const {
  const double at = z * kTableSteps;
  const int i = std::min(static_cast<int>(at), kTableSteps - 1);
  const float f = static_cast<float>(at - i);
  const float* a = &table_[static_cast<std::size_t>(i) * (channels_ + 1)];
  const float* b = a + channels_ + 1;
  for (int k = 0; k <= channels_; ++k) {
    const float v = a[k] + (b[k] - a[k]) * f;
    if (k < channels_) colour[k] = v; else *opacity = v;
  }
}

void PaintGradient(const Gradient& g, const PsdRect& box, const PsdRect& area, int channels, float* colour,
                   float* opacity) {
  GradientPainter(g, box, channels, area.Width() * area.Height()).Paint(area, colour, opacity);
}

}  // namespace kestrel
