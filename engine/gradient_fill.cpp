#include "engine/gradient_fill.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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

// The mix between two stops at fraction t of the way: bent so that the
// midpoint mixes half and half, then eased by the smoothness.
double Mix(double t, double midpoint, double smoothness) {
  if (midpoint != 0.5) t = std::pow(t, std::log(0.5) / std::log(midpoint));
  const double eased = t * t * (3 - 2 * t);
  return t + (eased - t) * 0.5 * smoothness;
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
  const GradientStop& a = stops[i];
  const GradientStop& b = stops[i + 1];
  const double span = b.location - a.location;
  const double m = span > 0 ? Mix((z - a.location) / span, a.midpoint, smoothness) : 1.0;
  for (int k = 0; k < count; ++k) out[k] = static_cast<float>(a.value[k] + (b.value[k] - a.value[k]) * m);
}

float ToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }
float FromLinear(float v) { return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f; }

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
      for (float& v : stop.value) v = ToLinear(v);
    }
  }
  g.opacities = std::move(*opacities);
  return g;
}

void PaintGradient(const Gradient& g, const PsdRect& box, const PsdRect& area, int channels, float* colour,
                   float* opacity) {
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
  // centre, the others' at the centre and half a length away from it, in
  // coordinates where pixel centres are whole. Fill layers put the ends on
  // whole pixels (halves to even), as Photoshop's own fills show; overlays,
  // as measured, leave them where they fall.
  auto place = [&g](double v) { return g.wholePixelEnds ? std::nearbyint(v) : v; };
  const double endX = cx - 0.5 + c * length / 2, endY = cy - 0.5 - s * length / 2;
  const bool linear = g.style == Gradient::Style::Linear;
  const double fromX = place(linear ? 2 * (cx - 0.5) - endX : cx - 0.5);
  const double fromY = place(linear ? 2 * (cy - 0.5) - endY : cy - 0.5);
  double ux = place(endX) - fromX, uy = place(endY) - fromY;
  double span = std::hypot(ux, uy);
  if (span < 1e-9) {  // both ends on one pixel: the unplaced direction over a pixel
    ux = c, uy = -s, span = 1;
  }
  ux /= span, uy /= span;
  float mixed[4];
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    for (std::int64_t x = area.left; x < area.right; ++x) {
      const double dx = static_cast<double>(x) - fromX;
      const double dy = static_cast<double>(y) - fromY;
      const double along = (dx * ux + dy * uy) / span;  // y runs down the canvas, angles up
      const double across = (dy * ux - dx * uy) / span;
      double z = 0;
      switch (g.style) {
        case Gradient::Style::Linear: z = along; break;
        case Gradient::Style::Reflected: z = std::abs(along); break;
        case Gradient::Style::Radial: z = std::hypot(along, across); break;
        case Gradient::Style::Diamond: z = std::abs(along) + std::abs(across); break;
        case Gradient::Style::Angle: {
          const double turn = std::atan2(-across, along) / (2 * std::numbers::pi);
          z = turn < 0 ? turn + 1 : turn;
          break;
        }
      }
      z = std::clamp(z, 0.0, 1.0);
      if (g.reverse) z = 1 - z;
      Sample(g.colours, z, g.smoothness, 4, mixed);
      if (g.linearLight) {
        for (float& v : mixed) v = FromLinear(v);
      }
      std::copy_n(mixed, channels, colour);
      colour += channels;
      Sample(g.opacities, z, g.smoothness, 1, opacity++);
    }
  }
}

}  // namespace kestrel
