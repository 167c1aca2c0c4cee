#include "engine/colour/display_colour.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/colour/display_samples.h"

namespace kestrel {
namespace {

struct ProfileCloser {
  void operator()(void* profile) const {
    if (profile != nullptr) cmsCloseProfile(static_cast<cmsHPROFILE>(profile));
  }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// A grey profile with the sRGB transfer curve, D50 white: grey shown as sRGB shows it.
Profile SrgbGreyProfile() {
  const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
  if (curve == nullptr) return nullptr;
  Profile grey(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  return grey;
}

// Whether an RGB or grey transform leaves every colour where it was, give or
// take one step: an embedded sRGB profile (the common case) then costs nothing.
bool NearIdentity(cmsHTRANSFORM transform, int channels) {
  std::vector<std::uint8_t> from;
  if (channels == 1) {
    for (int v = 0; v < 256; ++v) from.push_back(static_cast<std::uint8_t>(v));
  } else {
    for (int r = 0; r <= 256; r += 16) {
      for (int g = 0; g <= 256; g += 16) {
        for (int b = 0; b <= 256; b += 16) {
          for (int v : {r, g, b}) from.push_back(static_cast<std::uint8_t>(std::min(v, 255)));
        }
      }
    }
  }
  std::vector<std::uint8_t> to(from.size());
  cmsDoTransform(transform, from.data(), to.data(), static_cast<cmsUInt32Number>(from.size() / channels));
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (std::abs(static_cast<int>(from[i]) - static_cast<int>(to[i])) > 1) return false;
  }
  return true;
}

}  // namespace

DisplayColour::DisplayColour(const PsdDocument& document)
    : mode_(document.header.colourMode), grey_(document.header.colourMode == kPsdModeGreyscale),
      wide_(document.header.depth == 16 && (mode_ == kPsdModeCmyk || mode_ == kPsdModeLab)) {
  const auto& icc = document.resources.iccProfile;
  Profile source;
  cmsUInt32Number inputFormat = 0;
  switch (mode_) {
    case kPsdModeLab:
      source.reset(cmsCreateLab4Profile(nullptr));  // D50
      // 16-bit Lab is handed over as numbers (see Convert): its encoding is not LittleCMS's.
      inputFormat = wide_ ? TYPE_Lab_FLT : TYPE_Lab_8;
      break;
    case kPsdModeRgb: inputFormat = TYPE_RGB_8; break;
    case kPsdModeCmyk: inputFormat = wide_ ? TYPE_CMYK_16_REV : TYPE_CMYK_8_REV; break;  // 0 is full ink in the file
    case kPsdModeGreyscale: inputFormat = TYPE_GRAY_8; break;
    default: return;
  }
  // Float samples are linear light already shown through the sRGB curve, which
  // stands for their (linear) profile: applying it again would brighten twice.
  const bool linearLight = document.header.depth == 32;
  if (!source && !icc.empty() && !linearLight) source.reset(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
  if (!source) return;
  Profile target(grey_ ? SrgbGreyProfile() : Profile(cmsCreate_sRGBProfile()));
  if (!target) return;
  // A profile of another colour space than the file's makes no transform: the file keeps the plain conversion.
  // Lab through LittleCMS's 8-bit precalculated table is off by several steps
  // (its grid is coarse for Lab's curved way to sRGB): Lab is worked out pixel
  // by pixel in full precision instead.
  const cmsUInt32Number exact = mode_ == kPsdModeLab ? cmsFLAGS_NOOPTIMIZE : 0;
  transform_ = cmsCreateTransform(source.get(), inputFormat, target.get(), grey_ ? TYPE_GRAY_8 : TYPE_RGB_8,
                                  INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION | exact);
  if (transform_ != nullptr && (mode_ == kPsdModeRgb || grey_) &&
      NearIdentity(static_cast<cmsHTRANSFORM>(transform_), grey_ ? 1 : 3)) {
    cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
    transform_ = nullptr;
  }
}

DisplayColour::~DisplayColour() {
  if (transform_ != nullptr) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void DisplayColour::Convert(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels) const {
  if (wide_ && (transform_ != nullptr || mode_ == kPsdModeCmyk)) {
    // Widened for the transform that takes 16 bits: CMYK exactly (v * 257),
    // Lab's a and b about their centre.
    const int channels = mode_ == kPsdModeCmyk ? 4 : 3;
    constexpr std::size_t kChunk = 256;
    std::uint16_t wide[4 * kChunk];
    for (std::size_t start = 0; start < pixels; start += kChunk) {
      const std::size_t count = std::min(kChunk, pixels - start);
      for (std::size_t i = 0; i < count * channels; ++i) {
        const unsigned v = from[start * channels + i];
        const bool centred = mode_ == kPsdModeLab && i % 3 != 0;
        wide[i] = static_cast<std::uint16_t>(centred ? v * 256 : v * 257);
      }
      Convert(wide, to + start * 3, count);
    }
    return;
  }
  if (transform_ != nullptr) {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), from, to, static_cast<cmsUInt32Number>(pixels));
    return;
  }
  switch (mode_) {
    case kPsdModeGreyscale: std::memcpy(to, from, pixels); break;
    case kPsdModeRgb: std::memcpy(to, from, pixels * 3); break;
    case kPsdModeCmyk:
      // Stored inverted (255 is no ink): each ink darkens by its share.
      for (std::size_t i = 0; i < pixels; ++i, from += 4, to += 3) {
        const unsigned k = from[3];
        for (int c = 0; c < 3; ++c) to[c] = static_cast<std::uint8_t>((from[c] * k + 127) / 255);
      }
      break;
    default: std::memset(to, 0, pixels * 3); break;
  }
}

void DisplayColour::Convert(const std::uint16_t* from, std::uint8_t* to, std::size_t pixels) const {
  if (transform_ != nullptr && wide_ && mode_ == kPsdModeCmyk) {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), from, to, static_cast<cmsUInt32Number>(pixels));
    return;
  }
  if (transform_ != nullptr && wide_) {
    // The file's 16-bit Lab: L over 0..65535, a and b centred on 32768 at
    // 256 a unit, the 8-bit encoding scaled (LittleCMS's own is centred on
    // 32896 at 257 a unit, a step off at the ends).
    constexpr std::size_t kChunk = 256;
    float lab[3 * kChunk];
    for (std::size_t start = 0; start < pixels; start += kChunk) {
      const std::size_t count = std::min(kChunk, pixels - start);
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t* sample = from + (start + i) * 3;
        lab[3 * i] = sample[0] * (100.0f / 65535);
        lab[3 * i + 1] = (sample[1] - 32768.0f) / 256;
        lab[3 * i + 2] = (sample[2] - 32768.0f) / 256;
      }
      cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), lab, to + start * 3, static_cast<cmsUInt32Number>(count));
    }
    return;
  }
  if (wide_ && mode_ == kPsdModeCmyk) {
    // As the 8-bit rule, in 16-bit steps: round(c * k / 65535) in 8 bits.
    constexpr std::uint64_t kSquare = 65535ull * 65535ull;
    for (std::size_t i = 0; i < pixels; ++i, from += 4, to += 3) {
      const std::uint64_t k = from[3];
      for (int c = 0; c < 3; ++c) {
        to[c] = static_cast<std::uint8_t>((from[c] * k * 255 + kSquare / 2) / kSquare);
      }
    }
    return;
  }
  // Any other transform takes 8 bits: the samples are narrowed first.
  const int channels = mode_ == kPsdModeCmyk ? 4 : grey_ ? 1 : 3;
  constexpr std::size_t kChunk = 256;
  std::uint8_t narrow[4 * kChunk];
  for (std::size_t start = 0; start < pixels; start += kChunk) {
    const std::size_t count = std::min(kChunk, pixels - start);
    for (std::size_t i = 0; i < count * channels; ++i) {
      narrow[i] = SixteenBitsToDisplay(from[start * channels + i]);
    }
    Convert(narrow, to + start * OutputChannels(), count);
  }
}

}  // namespace kestrel
