#include "engine/composite/adjustment_hue.h"

#include "engine/composite/hsl_colour.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrel {
namespace {

struct HueShift {
  float hue = 0;         // degrees
  float saturation = 0;  // -1..1
  float lightness = 0;   // -1..1
};

// A colour range: the hues where it begins to act, acts fully, stops acting
// fully and stops (degrees, going round), and its shift.
struct HueRange {
  float from = 0, full = 0, fullEnd = 0, to = 0;
  HueShift shift;

  // How much of the range a hue belongs to: rising from `from` to `full`,
  // whole to `fullEnd`, falling to `to`.
  float Weight(float hue) const {
    const auto around = [](float d) { return d - 360 * std::floor(d / 360); };
    const float at = around(hue - from), rise = around(full - from), top = around(fullEnd - from), end = around(to - from);
    if (at < rise) return rise > 0 ? at / rise : 1.0f;
    if (at <= top) return 1.0f;
    if (at <= end) return end > top ? (end - at) / (end - top) : 0.0f;
    return 0.0f;
  }
};

// A saturation setting as the gain it adds: raised, it divides by what is
// left to full (all of it at +100); lowered, it multiplies towards grey.
// Ranges that overlap add their gains.
float SaturationGain(float by) { return by > 0 ? by / std::max(1 - by, 0.01f) : by; }

float Saturate(float s, float gain) { return std::clamp(s * (1 + std::max(gain, -1.0f)), 0.0f, 1.0f); }

// Lightness raised mixes towards white, lowered towards black.
float Lighten(float v, float by) { return std::clamp(by > 0 ? v + (1 - v) * by : v * (1 + by), 0.0f, 1.0f); }

// A colour range's lightness acts on brightness and saturation together:
// raised, it takes the colour out towards grey at the same brightness;
// lowered, it darkens the colour the more the more saturated it is, and
// saturates what stays.
void ShiftRangeLightness(Hsl& c, float by) {
  const float v = c.l + c.s * std::min(c.l, 1 - c.l);
  float sv = v > 0 ? 2 * (1 - c.l / v) : 0.0f;
  float value = v;
  if (by >= 0) {
    sv *= 1 - by;
  } else {
    value = std::clamp(v * (1 + by * sv), 0.0f, 1.0f);
    const float inverse = 1 / (sv + 1e-3f);
    sv = 1 + (inverse - 1) / (-by - inverse + 1e-3f);
  }
  sv = std::clamp(sv, 0.0f, 1.0f);
  c.l = value * (1 - sv / 2);
  const float room = std::min(c.l, 1 - c.l);
  c.s = room > 0 ? std::clamp((value - c.l) / room, 0.0f, 1.0f) : 0.0f;
}

HueShift ReadShift(ByteReader& in) {
  HueShift shift;
  shift.hue = std::clamp<float>(in.Int16(), -180, 360);
  shift.saturation = std::clamp<float>(in.Int16(), -100, 100) / 100;
  shift.lightness = std::clamp<float>(in.Int16(), -100, 100) / 100;
  return shift;
}

}  // namespace

// The block: a version, the colourise flag and a pad byte, the colourising
// hue, saturation and lightness, the master's, then six ranges (reds,
// yellows, greens, cyans, blues, magentas) of four hues and a shift.
std::optional<PixelMix> ReadHueSaturation(ByteReader in) {
  in.Skip(2);
  const bool colourise = in.Byte() != 0;
  in.Skip(1);
  const HueShift colour = ReadShift(in);
  const HueShift master = ReadShift(in);
  std::array<HueRange, 6> ranges;
  for (HueRange& range : ranges) {
    range.from = in.Int16();
    range.full = in.Int16();
    range.fullEnd = in.Int16();
    range.to = in.Int16();
    range.shift = ReadShift(in);
  }
  if (!in.Ok()) return std::nullopt;
  if (colourise) {
    return [colour](float* rgb, std::size_t pixels) {
      for (std::size_t x = 0; x < pixels; ++x) {
        float* p = rgb + x * 3;
        RgbOf(Hsl{colour.hue, std::clamp(colour.saturation, 0.0f, 1.0f), Lighten(HslOf(p).l, colour.lightness)}, p);
      }
    };
  }
  return [master, ranges](float* rgb, std::size_t pixels) {
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      // The master's lightness comes first, on the channels.
      for (int k = 0; k < 3; ++k) p[k] = Lighten(p[k], master.lightness);
      Hsl c = HslOf(p);
      HueShift own;
      std::array<float, 6> weights{};
      if (c.s > 0) {
        for (std::size_t r = 0; r < ranges.size(); ++r) {
          const float w = ranges[r].Weight(c.h);
          weights[r] = w;
          own.hue += w * ranges[r].shift.hue;
          own.lightness += w * ranges[r].shift.lightness;
        }
      }
      if (own.lightness != 0) ShiftRangeLightness(c, std::clamp(own.lightness, -1.0f, 1.0f));
      c.h += master.hue + own.hue;
      // The ranges' saturation together, after the master's.
      float gain = 0;
      for (std::size_t r = 0; r < ranges.size(); ++r) gain += weights[r] * SaturationGain(ranges[r].shift.saturation);
      c.s = Saturate(Saturate(c.s, SaturationGain(master.saturation)), gain);
      RgbOf(c, p);
    }
  };
}

}  // namespace kestrel
