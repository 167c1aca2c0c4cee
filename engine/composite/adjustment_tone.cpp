#include "engine/composite/adjustment_tone.h"

#include <algorithm>
#include <cmath>

#include "engine/composite/natural_spline.h"

namespace kestrel {
namespace {

// The legacy formula: brightness shifts every level by as many steps of 255;
// contrast steepens (or flattens) the line through the picture's mean, to a
// threshold at +100.
ToneTable LegacyTable(const BrightnessContrast& s, std::size_t size) {
  const double pivot = s.mean / 255.0;
  const double c = std::clamp(s.contrast, -100.0, 100.0);
  const double slope = c >= 0 ? (c >= 100 ? 1e6 : 100 / (100 - c)) : (100 + c) / 100;
  return TabulateTone(size, [&](double t) { return (t + s.brightness / 255.0 - pivot) * slope + pivot; });
}

// The current formula: contrast is a natural spline through the ends and two
// inner points that move apart (0.1 of the range at +100); brightness bends
// the line along the diagonal by a bump that is zero at both ends, so that
// neither black nor white moves.
ToneTable CurrentTable(const BrightnessContrast& s, std::size_t size) {
  const double c = s.contrast / 100, b = s.brightness / 150, a = std::abs(b);
  const double inner = 25 / 255.0;
  const NaturalSpline contrast({0, 63 / 255.0, 191 / 255.0, 1},
                               {0, 63 / 255.0 - c * inner, 191 / 255.0 + c * inner, 1});
  const auto bump = [&](double t) {
    const double h = 0.5 * (a * (1.65 * std::pow(t, 0.35) - std::pow(t, 10)) +
                            (1 - a) * (1.96 * std::pow(t, 0.4) + std::pow(t, 4)) + std::pow(t, 1.25));
    return b * t * (1 - t) * h;
  };
  // The curve (t - bump, contrast + bump), read back at even steps of its x.
  std::vector<double> x(size), y(size);
  for (std::size_t i = 0; i < size; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(size - 1);
    x[i] = t - bump(t);
    y[i] = contrast(t) + bump(t);
  }
  std::size_t j = 0;
  return TabulateTone(size, [&](double t) {
    while (j + 2 < size && x[j + 1] < t) ++j;
    const double span = x[j + 1] - x[j];
    const double f = span > 0 ? std::clamp((t - x[j]) / span, 0.0, 1.0) : 0.0;
    return y[j] + (y[j + 1] - y[j]) * f;
  });
}

}  // namespace

ToneTable BrightnessContrastTable(const BrightnessContrast& settings, std::size_t size) {
  return settings.legacy ? LegacyTable(settings, size) : CurrentTable(settings, size);
}

// Each range's shifts are taken relative to its strongest channel, as
// Photoshop does, so that a shift towards one colour takes the others away:
// in the shadows a channel's black point rises by its shortfall, in the
// highlights its white point falls by its lead, in the midtones its gamma
// moves with its lead or shortfall.
std::optional<std::array<ToneTable, 3>> ReadColourBalance(ByteReader in, std::size_t size) {
  double shift[3][3];  // range (shadows, midtones, highlights), channel
  for (auto& range : shift) {
    for (double& v : range) v = std::clamp<double>(in.Int16(), -100, 100) / 255.0;
  }
  if (!in.Ok()) return std::nullopt;
  std::array<ToneTable, 3> tables;
  for (int c = 0; c < 3; ++c) {
    const double* s = shift[0];
    const double* m = shift[1];
    const double* h = shift[2];
    const double black = *std::max_element(s, s + 3) - s[c];
    const double white = 1 - (h[c] - *std::min_element(h, h + 3));
    const double mid = m[c] - (m[0] + m[1] + m[2]) / 3;
    const double gamma = std::clamp(1 + 2 * mid, 0.1, 9.99);
    tables[c] = TabulateTone(size, [&](double t) {
      const double span = std::max(white - black, 1e-6);
      return std::pow(std::clamp((t - black) / span, 0.0, 1.0), 1 / gamma);
    });
  }
  return tables;
}

}  // namespace kestrel
