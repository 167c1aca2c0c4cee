#include "engine/colour/descriptor_colour.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "engine/colour/display_samples.h"
#include "engine/psd/header.h"

namespace kestrel {
namespace {

double Fraction(double v) { return std::clamp(v, 0.0, 1.0); }

bool Has(const DescriptorValue& colour, std::initializer_list<const char*> keys) {
  return std::all_of(keys.begin(), keys.end(), [&](const char* key) { return colour.Find(key) != nullptr; });
}

// Hue in degrees, saturation and brightness in percent, as RGB fractions.
void HsbToRgb(double hue, double saturation, double brightness, double rgb[3]) {
  const double h = std::fmod(std::fmod(hue, 360.0) + 360.0, 360.0) / 60.0;
  const double s = Fraction(saturation / 100), v = Fraction(brightness / 100);
  const double c = v * s;
  const double x = c * (1 - std::abs(std::fmod(h, 2.0) - 1));
  const int sector = std::min(static_cast<int>(h), 5);
  const double r[6] = {c, x, 0, 0, x, c}, g[6] = {x, c, c, x, 0, 0}, b[6] = {0, 0, x, c, c, x};
  rgb[0] = r[sector] + v - c;
  rgb[1] = g[sector] + v - c;
  rgb[2] = b[sector] + v - c;
}

// Without a CMYK profile, ink is taken as darkening each of red, green and
// blue by its share, the way such files are shown; the reverse puts all the
// common darkness into black.
void CmykToRgb(const double ink[4], double rgb[3]) {
  const double k = 1 - Fraction(ink[3] / 100);
  for (int c = 0; c < 3; ++c) rgb[c] = (1 - Fraction(ink[c] / 100)) * k;
}

void RgbToCmyk(const double rgb[3], double ink[4]) {
  const double light = std::max({Fraction(rgb[0]), Fraction(rgb[1]), Fraction(rgb[2])});
  for (int c = 0; c < 3; ++c) ink[c] = light > 0 ? (1 - Fraction(rgb[c]) / light) * 100 : 0;
  ink[3] = (1 - light) * 100;
}

// One colour through LittleCMS, as the merged image is shown: relative
// colorimetric with black point compensation. False when the profiles make no transform.
bool Transform(cmsHPROFILE from, cmsUInt32Number fromFormat, cmsHPROFILE to, cmsUInt32Number toFormat,
               const double* in, double* out) {
  if (from == nullptr || to == nullptr) return false;
  cmsHTRANSFORM transform = cmsCreateTransform(from, fromFormat, to, toFormat, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE);
  if (transform == nullptr) return false;
  cmsDoTransform(transform, in, out, 1);
  cmsDeleteTransform(transform);
  return true;
}

struct Closer {
  void operator()(void* profile) const {
    if (profile != nullptr) cmsCloseProfile(static_cast<cmsHPROFILE>(profile));
  }
};
using OwnedProfile = std::unique_ptr<void, Closer>;

}  // namespace

void DescriptorColours::ProfileCloser::operator()(void* profile) const { Closer{}(profile); }

DescriptorColours::DescriptorColours(int colourMode, int depth, std::span<const std::uint8_t> iccProfile)
    : mode_(colourMode), depth_(depth) {
  cmsColorSpaceSignature wanted = cmsSigRgbData;
  switch (mode_) {
    case kPsdModeRgb: channels_ = 3; break;
    case kPsdModeLab: channels_ = 3; break;
    case kPsdModeCmyk: channels_ = 4, wanted = cmsSigCmykData; break;
    case kPsdModeGreyscale:
    case kPsdModeDuotone: channels_ = 1, wanted = cmsSigGrayData; break;
    default: channels_ = 0; break;
  }
  // A profile is only a way into the file's samples when it describes them.
  if (channels_ == 0 || mode_ == kPsdModeLab || iccProfile.empty()) return;
  profile_.reset(cmsOpenProfileFromMem(iccProfile.data(), static_cast<cmsUInt32Number>(iccProfile.size())));
  if (profile_ && cmsGetColorSpace(static_cast<cmsHPROFILE>(profile_.get())) != wanted) profile_.reset();
}

DescriptorColours::~DescriptorColours() = default;

bool DescriptorColours::Read(const DescriptorValue& colour, float out[4]) const {
  if (colour.type != DescriptorValue::Type::Object || channels_ == 0) return false;
  double value[4] = {0, 0, 0, 0};
  if (Has(colour, {"Rd  ", "Grn ", "Bl  "})) {
    value[0] = colour.NumberOr("Rd  ", 0) / 255;
    value[1] = colour.NumberOr("Grn ", 0) / 255;
    value[2] = colour.NumberOr("Bl  ", 0) / 255;
    Convert(Space::Rgb, value, out);
  } else if (Has(colour, {"redFloat", "greenFloat", "blueFloat"})) {
    value[0] = colour.NumberOr("redFloat", 0);
    value[1] = colour.NumberOr("greenFloat", 0);
    value[2] = colour.NumberOr("blueFloat", 0);
    Convert(Space::Rgb, value, out);
  } else if (Has(colour, {"H   ", "Strt", "Brgh"})) {
    HsbToRgb(colour.NumberOr("H   ", 0), colour.NumberOr("Strt", 0), colour.NumberOr("Brgh", 0), value);
    Convert(Space::Rgb, value, out);
  } else if (Has(colour, {"Lmnc", "A   ", "B   "})) {
    value[0] = std::clamp(colour.NumberOr("Lmnc", 0), 0.0, 100.0);
    value[1] = std::clamp(colour.NumberOr("A   ", 0), -128.0, 127.0);
    value[2] = std::clamp(colour.NumberOr("B   ", 0), -128.0, 127.0);
    Convert(Space::Lab, value, out);
  } else if (Has(colour, {"Cyn ", "Mgnt", "Ylw ", "Blck"})) {
    value[0] = colour.NumberOr("Cyn ", 0);
    value[1] = colour.NumberOr("Mgnt", 0);
    value[2] = colour.NumberOr("Ylw ", 0);
    value[3] = colour.NumberOr("Blck", 0);
    Convert(Space::Cmyk, value, out);
  } else if (Has(colour, {"Gry "})) {
    value[0] = 1 - colour.NumberOr("Gry ", 0) / 100;  // grey is given as ink
    Convert(Space::Grey, value, out);
  } else {
    return false;
  }
  return true;
}

void DescriptorColours::Neutral(bool white, float out[4]) const {
  const double v = white ? 1 : 0;
  const double value[4] = {v, v, v, 0};
  Convert(Space::Rgb, value, out);
}

void DescriptorColours::Convert(Space space, const double value[4], float out[4]) const {
  const Space target = mode_ == kPsdModeRgb    ? Space::Rgb
                       : mode_ == kPsdModeLab  ? Space::Lab
                       : mode_ == kPsdModeCmyk ? Space::Cmyk
                                               : Space::Grey;
  if (space == target) return Store(space, value, out);
  double rgb[4] = {value[0], value[0], value[0], 0};  // grey as neutral RGB
  if (space == Space::Rgb) std::copy_n(value, 3, rgb);
  if (space == Space::Cmyk) CmykToRgb(value, rgb);
  const auto profile = static_cast<cmsHPROFILE>(profile_.get());
  const OwnedProfile srgb(cmsCreate_sRGBProfile());
  const OwnedProfile lab(cmsCreateLab4Profile(nullptr));  // D50, as the files' Lab
  const auto srgbProfile = static_cast<cmsHPROFILE>(srgb.get());
  const auto labProfile = static_cast<cmsHPROFILE>(lab.get());
  // Lab is seen as sRGB wherever the file's own samples cannot take it straight.
  if (space == Space::Lab && !(target == Space::Cmyk && profile != nullptr) &&
      !Transform(labProfile, TYPE_Lab_DBL, srgbProfile, TYPE_RGB_DBL, value, rgb)) {
    std::fill_n(rgb, 3, value[0] / 100);
  }
  double result[4] = {0, 0, 0, 0};
  switch (target) {
    case Space::Rgb:
      if (space == Space::Lab && profile != nullptr) Transform(labProfile, TYPE_Lab_DBL, profile, TYPE_RGB_DBL, value, rgb);
      return Store(Space::Rgb, rgb, out);
    case Space::Lab:
      if (!Transform(srgbProfile, TYPE_RGB_DBL, labProfile, TYPE_Lab_DBL, rgb, result)) result[0] = rgb[1] * 100;
      return Store(Space::Lab, result, out);
    case Space::Cmyk:
      if (profile == nullptr) RgbToCmyk(rgb, result);
      else if (space == Space::Lab) Transform(labProfile, TYPE_Lab_DBL, profile, TYPE_CMYK_DBL, value, result);
      else Transform(srgbProfile, TYPE_RGB_DBL, profile, TYPE_CMYK_DBL, rgb, result);
      return Store(Space::Cmyk, result, out);
    case Space::Grey: {
      if (profile != nullptr && space == Space::Lab) {
        Transform(labProfile, TYPE_Lab_DBL, profile, TYPE_GRAY_DBL, value, result);
      } else if (profile != nullptr) {
        Transform(srgbProfile, TYPE_RGB_DBL, profile, TYPE_GRAY_DBL, rgb, result);
      } else {
        // Grey shown through the sRGB curve: the colour's luminance, encoded again.
        const double y = 0.2126 * SrgbToLinear(Fraction(rgb[0])) + 0.7152 * SrgbToLinear(Fraction(rgb[1])) +
                         0.0722 * SrgbToLinear(Fraction(rgb[2]));
        result[0] = LinearToSrgb(y);
      }
      return Store(Space::Grey, result, out);
    }
  }
}

void DescriptorColours::Store(Space space, const double value[4], float out[4]) const {
  switch (space) {
    case Space::Rgb:
      for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(Fraction(value[c]));
      break;
    case Space::Grey: out[0] = static_cast<float>(Fraction(value[0])); break;
    case Space::Cmyk:
      for (int c = 0; c < 4; ++c) out[c] = static_cast<float>(1 - Fraction(value[c] / 100));
      break;
    case Space::Lab:
      // 16-bit a and b are centred on 32768 with 256 steps to a unit, 8-bit ones on 128.
      out[0] = static_cast<float>(Fraction(value[0] / 100));
      for (int c = 1; c < 3; ++c) {
        const double v = std::clamp(value[c], -128.0, 127.0);
        out[c] = static_cast<float>(depth_ == 16 ? Fraction((v * 256 + 32768) / 65535) : Fraction((v + 128) / 255));
      }
      break;
  }
}

}  // namespace kestrel
