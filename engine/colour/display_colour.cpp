#include "engine/colour/display_colour.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

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
    : mode_(document.header.colourMode), grey_(document.header.colourMode == kPsdModeGreyscale) {
  const auto& icc = document.resources.iccProfile;
  Profile source;
  cmsUInt32Number inputFormat = 0;
  switch (mode_) {
    case kPsdModeLab:
      source.reset(cmsCreateLab4Profile(nullptr));  // D50
      inputFormat = TYPE_Lab_8;
      break;
    case kPsdModeRgb: inputFormat = TYPE_RGB_8; break;
    case kPsdModeCmyk: inputFormat = TYPE_CMYK_8_REV; break;  // 0 is full ink in the file
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

}  // namespace kestrel
