#include "engine/composite/adjustment_mix.h"

#include "engine/composite/hsl_colour.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrel {
namespace {

enum Range { kReds, kYellows, kGreens, kCyans, kBlues, kMagentas, kWhites, kNeutrals, kBlacks, kRanges };

// How much of each range a pixel belongs to: a hue range by the step between
// the two channels that make it (the largest and the middle one for red,
// green and blue; the middle and the smallest for the others), whites and
// blacks by how far the pixel lies beyond the middle grey, neutrals by how
// near it stays to it.
std::array<float, kRanges> RangeWeights(const float* p) {
  std::array<float, kRanges> w{};
  const float r = p[0], g = p[1], b = p[2];
  const float mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const float md = r + g + b - mx - mn;
  if (r == mx) w[kReds] = mx - md;
  if (g == mx) w[kGreens] = mx - md;
  if (b == mx) w[kBlues] = mx - md;
  if (b == mn) w[kYellows] = md - mn;
  if (r == mn) w[kCyans] = md - mn;
  if (g == mn) w[kMagentas] = md - mn;
  if (mn > 0.5f) w[kWhites] = (mn - 0.5f) * 2;
  if (mx < 0.5f) w[kBlacks] = (0.5f - mx) * 2;
  if (mx > 0 && mn < 1) w[kNeutrals] = std::max(0.0f, 1 - (std::abs(mx - 0.5f) + std::abs(mn - 0.5f)));
  return w;
}

// The sRGB curve both ways, as tables read between their entries: within a
// hundredth of an 8-bit step of the powers, at a fraction of their cost.
class SrgbCurve {
 public:
  static const SrgbCurve& Get() {
    static const SrgbCurve curve;
    return curve;
  }
  float ToLight(float v) const { return Between(toLight_, v); }
  float FromLight(float v) const { return Between(fromLight_, v); }

 private:
  static constexpr std::size_t kSteps = 4096;
  SrgbCurve() {
    for (std::size_t i = 0; i <= kSteps; ++i) {
      const double v = static_cast<double>(i) / kSteps;
      toLight_[i] = static_cast<float>(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
      fromLight_[i] = static_cast<float>(v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055);
    }
  }
  static float Between(const std::array<float, kSteps + 1>& table, float v) {
    const float at = std::clamp(v, 0.0f, 1.0f) * kSteps;
    const auto below = std::min(static_cast<std::size_t>(at), kSteps - 1);
    return table[below] + (table[below + 1] - table[below]) * (at - static_cast<float>(below));
  }
  std::array<float, kSteps + 1> toLight_{}, fromLight_{};
};

float LinearOf(float v) { return SrgbCurve::Get().ToLight(v); }

float EncodedOf(float v) { return SrgbCurve::Get().FromLight(v); }

DescriptorValue NumberObject(std::initializer_list<std::pair<const char*, double>> items) {
  DescriptorValue object;
  object.type = DescriptorValue::Type::Object;
  for (const auto& [key, number] : items) {
    DescriptorValue value;
    value.type = DescriptorValue::Type::Number;
    value.number = number;
    object.items.push_back(DescriptorItem{key, value});
  }
  return object;
}

// The filter's colour: in version 3 Lab as three 32-bit numbers scaled by
// 100; before, a colour space and four 16-bit components (RGB on 0..65535,
// or Lab with L on 0..10000 and a, b signed and scaled by 100).
std::optional<DescriptorValue> ReadFilterColour(ByteReader& in, std::uint16_t version) {
  if (version == 3) {
    const double l = static_cast<std::int32_t>(in.U32()) / 100.0, a = static_cast<std::int32_t>(in.U32()) / 100.0;
    const double b = static_cast<std::int32_t>(in.U32()) / 100.0;
    return NumberObject({{"Lmnc", l}, {"A   ", a}, {"B   ", b}});
  }
  const std::uint16_t space = in.U16();
  const std::uint16_t c0 = in.U16(), c1 = in.U16(), c2 = in.U16();
  in.Skip(2);
  if (space == 0) return NumberObject({{"Rd  ", c0 / 257.0}, {"Grn ", c1 / 257.0}, {"Bl  ", c2 / 257.0}});
  if (space == 7) {
    // a and b are signed: their bits are taken as a 16-bit integer, not their value.
    return NumberObject({{"Lmnc", c0 / 100.0}, {"A   ", static_cast<std::int16_t>(c1) / 100.0},
                         {"B   ", static_cast<std::int16_t>(c2) / 100.0}});
  }
  return std::nullopt;
}

}  // namespace

// The filter multiplies the light (on the sRGB curve) by its colour, as much
// as its density; keeping the luminosity gives the result the lightness the
// pixel had (as Photoshop's pictures show).
std::optional<PixelMix> ReadPhotoFilter(ByteReader in, const DescriptorColours& colours) {
  const std::uint16_t version = in.U16();
  const std::optional<DescriptorValue> colour = ReadFilterColour(in, version);
  const float density = std::clamp<float>(static_cast<float>(in.U32()), 0, 100) / 100;
  const bool keepLuminance = in.Byte() != 0;
  float filter[4] = {};
  if (!in.Ok() || !colour || colours.Channels() != 3 || !colours.Read(*colour, filter)) return std::nullopt;
  std::array<float, 3> gain{};
  for (int c = 0; c < 3; ++c) gain[c] = 1 - density + density * LinearOf(filter[c]);
  return [gain, keepLuminance](float* rgb, std::size_t pixels) {
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      const float lightness = HslOf(p).l;
      for (int c = 0; c < 3; ++c) p[c] = EncodedOf(LinearOf(p[c]) * gain[c]);
      if (!keepLuminance) continue;
      Hsl filtered = HslOf(p);
      filtered.l = lightness;
      RgbOf(filtered, p);
    }
  };
}

// The block: a version, the method (0 relative, 1 absolute), then ten records
// of cyan, magenta, yellow and black in percent; the first is unused.
std::optional<PixelMix> ReadSelectiveColour(ByteReader in) {
  in.Skip(2);
  const bool relative = in.U16() == 0;
  in.Skip(8);
  std::array<std::array<float, 4>, kRanges> inks{};
  for (auto& range : inks) {
    for (float& v : range) v = std::clamp<float>(in.Int16(), -100, 100) / 100.0f;
  }
  if (!in.Ok()) return std::nullopt;
  return [relative, inks](float* rgb, std::size_t pixels) {
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      const std::array<float, kRanges> weights = RangeWeights(p);
      float out[3] = {p[0], p[1], p[2]};
      for (int range = 0; range < kRanges; ++range) {
        if (weights[range] <= 0) continue;
        const float black = inks[range][3];
        for (int c = 0; c < 3; ++c) {
          // Ink added takes light away: cyan from red, magenta from green,
          // yellow from blue; black from all three.
          const float v = p[c], ink = inks[range][c];
          float change = (-1 - ink) * black - ink;
          if (relative) change *= 1 - v;
          out[c] += weights[range] * std::clamp(change, -v, 1 - v);
        }
      }
      for (int c = 0; c < 3; ++c) p[c] = std::clamp(out[c], 0.0f, 1.0f);
    }
  };
}

// The block: a version, the monochrome flag, then per output channel the
// weights of red, green and blue and an unused fourth (percent) and the
// constant (percent of white).
std::optional<PixelMix> ReadChannelMixer(ByteReader in) {
  in.Skip(2);
  const bool monochrome = in.U16() != 0;
  std::array<std::array<float, 4>, 3> mix{};
  for (auto& row : mix) {
    for (int i = 0; i < 3; ++i) row[i] = std::clamp<float>(in.Int16(), -200, 200) / 100.0f;
    in.Skip(2);
    row[3] = std::clamp<float>(in.Int16(), -200, 200) / 100.0f;
  }
  if (!in.Ok()) return std::nullopt;
  if (monochrome) mix[1] = mix[2] = mix[0];
  return [mix](float* rgb, std::size_t pixels) {
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      const float r = p[0], g = p[1], b = p[2];
      for (int c = 0; c < 3; ++c) {
        p[c] = std::clamp(mix[c][0] * r + mix[c][1] * g + mix[c][2] * b + mix[c][3], 0.0f, 1.0f);
      }
    }
  };
}

// Both steps act on light (the sRGB curve undone). Vibrance pushes the two
// smaller channels away from the largest, by less the more colour the pixel
// has; saturation then moves every channel away from the pixel's luminance.
// The share of vibrance that reaches a pixel was fitted to Photoshop's
// pictures.
PixelMix ReadVibrance(const DescriptorValue& settings) {
  const float vibrance = std::clamp<float>(static_cast<float>(settings.NumberOr("vibrance", 0)), -100, 100) / 100;
  const float saturation = std::clamp<float>(static_cast<float>(settings.NumberOr("Strt", 0)), -100, 100) / 100;
  constexpr float kVibranceShare = 0.54f;
  return [vibrance, saturation](float* rgb, std::size_t pixels) {
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      float light[3];
      for (int c = 0; c < 3; ++c) light[c] = LinearOf(p[c]);
      const float mx = std::max({light[0], light[1], light[2]}), mn = std::min({light[0], light[1], light[2]});
      const float colour = mx > 0 ? (mx - mn) / mx : 0.0f;
      const float away = std::max(1 + kVibranceShare * vibrance * (1 - colour), 0.0f);
      for (float& v : light) v = mx - (mx - v) * away;
      const float luminance = 0.299f * light[0] + 0.587f * light[1] + 0.114f * light[2];
      for (int c = 0; c < 3; ++c) p[c] = EncodedOf(luminance + (1 + saturation) * (light[c] - luminance));
    }
  };
}

}  // namespace kestrel
