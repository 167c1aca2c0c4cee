// Samples of any depth made into the 8-bit samples a display shows. A 16-bit
// sample is the same picture in finer steps, so it is scaled, never stretched
// or tone-mapped; a floating-point sample is linear light, shown as at
// exposure 0: through the sRGB transfer curve, clipped to 0..1.
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/bitmap/image.h"

namespace kestrel {

// round(v * 255 / 65535).
inline std::uint8_t SixteenBitsToDisplay(std::uint16_t v) {
  return static_cast<std::uint8_t>((std::uint32_t{v} * 255u + 32767u) / 65535u);
}

// The sRGB transfer curve: an encoded (shown) sample in 0..1 as linear light,
// and back.
template <typename T>
T SrgbToLinear(T v) {
  return v <= T(0.04045) ? v / T(12.92) : std::pow((v + T(0.055)) / T(1.055), T(2.4));
}
template <typename T>
T LinearToSrgb(T v) {
  return v <= T(0.0031308) ? v * T(12.92) : T(1.055) * std::pow(v, T(1) / T(2.4)) - T(0.055);
}

// A linear-light colour sample through the sRGB transfer curve.
std::uint8_t LinearLightToDisplay(float v);
// A floating-point coverage (alpha) sample, clipped and scaled.
std::uint8_t FloatCoverageToDisplay(float v);

// Bitmaps of 16-bit integer (FIT_UINT16, FIT_RGB16, FIT_RGBA16) or float
// (FIT_FLOAT, FIT_RGBF, FIT_RGBAF) samples as 8-bit grey, 24-bit or 32-bit
// bitmaps by the rules above; any other bitmap is handed back as it is.
ImagePtr NarrowToDisplay(ImagePtr image);

// A 32-bit bitmap whose colours were blended over white where it is not
// opaque gets back its straight colours. Other bitmaps are left alone.
void RemoveWhiteMatte(FIBITMAP* image);

// Whether a picture's stored samples were blended over white where it is not
// opaque, as Photoshop stores a transparent merged image (other writers store
// straight colour): every fully transparent pixel white and every sample at
// least 255 - alpha, within one step for rounding. Samples are 8-bit, in the
// file's order and sense (CMYK's 255 is no ink, so white paper); Lab's a and b
// are white at 128 and take no part in the second rule.
class WhiteMatteWitness {
 public:
  explicit WhiteMatteWitness(bool lab) : lab_(lab) {}
  // One pixel's `channels` samples at coverage a.
  void See(const std::uint8_t* samples, int channels, std::uint8_t a) {
    for (int c = 0; c < channels && carried_; ++c) {
      const int white = lab_ && c > 0 ? 128 : 255;
      if (a == 0) {
        carried_ = samples[c] + 1 >= white && samples[c] <= white + 1;
      } else if (!lab_ || c == 0) {
        carried_ = samples[c] + a + 1 >= 255;
      }
    }
  }
  bool Carried() const { return carried_; }

 private:
  bool lab_;
  bool carried_ = true;
};

// Whether the colours of a 32-bit bitmap (samples as stored, grey repeated or
// RGB) carry a white matte by the rule above.
bool CarriesWhiteMatte(FIBITMAP* image);

// The same for one pixel's colour sample c at coverage a.
inline std::uint8_t UnmatteFromWhite(std::uint8_t c, std::uint8_t a) {
  if (a == 0 || a == 255) return c;
  const int straight = ((static_cast<int>(c) - 255 + a) * 255 + a / 2) / a;
  return static_cast<std::uint8_t>(straight < 0 ? 0 : straight > 255 ? 255 : straight);
}

}  // namespace kestrel
