// The natural cubic spline through a few points, as the tone curves of
// adjustments are drawn.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace kestrel {

// The natural cubic spline through points sorted by x, evaluated at x
// (clamped to the points' range).
class NaturalSpline {
 public:
  NaturalSpline(std::vector<double> x, std::vector<double> y) : x_(std::move(x)), y_(std::move(y)), m_(x_.size(), 0) {
    const std::size_t n = x_.size();
    if (n < 3) return;
    // Second derivatives from the tridiagonal system, zero at both ends.
    std::vector<double> c(n, 0), d(n, 0);
    for (std::size_t i = 1; i + 1 < n; ++i) {
      const double h0 = x_[i] - x_[i - 1], h1 = x_[i + 1] - x_[i];
      const double a = h0, b = 2 * (h0 + h1), r = 6 * ((y_[i + 1] - y_[i]) / h1 - (y_[i] - y_[i - 1]) / h0);
      const double denominator = b - a * c[i - 1];
      c[i] = h1 / denominator;
      d[i] = (r - a * d[i - 1]) / denominator;
    }
    for (std::size_t i = n - 2; i >= 1; --i) m_[i] = d[i] - c[i] * m_[i + 1];
  }

  double operator()(double at) const {
    const std::size_t n = x_.size();
    at = std::clamp(at, x_.front(), x_.back());
    std::size_t i = 1;
    while (i + 1 < n && at > x_[i]) ++i;
    const double h = x_[i] - x_[i - 1];
    if (h <= 0) return y_[i];
    const double a = (x_[i] - at) / h, b = (at - x_[i - 1]) / h;
    return a * y_[i - 1] + b * y_[i] + ((a * a * a - a) * m_[i - 1] + (b * b * b - b) * m_[i]) * h * h / 6;
  }

 private:
  std::vector<double> x_, y_, m_;
};

}  // namespace kestrel
