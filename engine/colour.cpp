#include "engine/colour.h"

namespace kestrel {
namespace {

// Converts to 24 bits when the depth lies outside [lowest, 32].
ImagePtr WithinDepths(ImagePtr image, unsigned lowest) {
  const unsigned depth = FreeImage_GetBPP(image.get());
  if (depth >= lowest && depth <= 32) return image;
  return Adopt(FreeImage_ConvertTo24Bits(image.get()));
}

}  // namespace

FREE_IMAGE_DITHER DitherAlgorithm(int keyword) {
  // The keyword order differs from the library's numbering: BAYER16 is 6 there.
  switch (keyword) {
    case 0: return FID_FS;
    case 1: return FID_BAYER4x4;
    case 2: return FID_BAYER8x8;
    case 3: return FID_BAYER16x16;
    case 4: return FID_CLUSTER6x6;
    case 5: return FID_CLUSTER8x8;
    case 6: return FID_CLUSTER16x16;
    default: return FID_FS;
  }
}

ImagePtr AdjustColours(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageColorCorrection)) return image;
  image = WithinDepths(std::move(image), 8);
  if (!image) return image;
  // A depth the library cannot adjust (16 bits) leaves the image as it was.
  FreeImage_AdjustColors(image.get(), settings.Int(SettingId::Brightness), settings.Int(SettingId::Contrast),
                         static_cast<double>(settings.Real(SettingId::Gamma)),
                         settings.IsOn(SettingId::Invert) ? TRUE : FALSE);
  return image;
}

ImagePtr ApplyGreyscale(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::Greyscale)) return image;
  image = WithinDepths(std::move(image), 1);
  if (!image) return image;
  return Adopt(FreeImage_ConvertToGreyscale(image.get()));
}

ImagePtr ApplyThreshold(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageThreshold)) return image;
  image = WithinDepths(std::move(image), 4);
  if (!image) return image;
  const auto level = static_cast<BYTE>(settings.Int(SettingId::Threshold) & 0xFF);
  return Adopt(FreeImage_Threshold(image.get(), level));
}

ImagePtr ApplyDither(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageDither)) return image;
  image = WithinDepths(std::move(image), 4);
  if (!image) return image;
  return Adopt(FreeImage_Dither(image.get(), DitherAlgorithm(settings.Int(SettingId::Dither))));
}

}  // namespace kestrel
