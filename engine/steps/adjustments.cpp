#include "engine/steps/adjustments.h"

#include "engine/steps/depth.h"
#include "model/keywords.h"

namespace kestrel {
namespace {

// Converts to 24 bits when the depth lies outside [lowest, 32].
ImagePtr WithinDepths(ImagePtr image, unsigned lowest) {
  const unsigned depth = FreeImage_GetBPP(image.get());
  if (depth >= lowest && depth <= 32) return image;
  return Adopt(FreeImage_ConvertTo24Bits(image.get()));
}

// The same for a step whose result has no alpha: a 32-bit picture is first
// put on the background.
ImagePtr WithinDepthsOnBackground(ImagePtr image, unsigned lowest, const Settings& settings) {
  image = WithinDepths(std::move(image), lowest);
  PutOnBackground(image.get(), BackgroundColour(settings));
  return image;
}

}  // namespace

FREE_IMAGE_DITHER DitherAlgorithm(int keyword) {
  return static_cast<FREE_IMAGE_DITHER>(KeywordLibraryValue(KeywordSet::Dither, keyword, FID_FS));
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
  image = WithinDepthsOnBackground(std::move(image), 1, settings);
  if (!image) return image;
  return Adopt(FreeImage_ConvertToGreyscale(image.get()));
}

ImagePtr ApplyThreshold(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageThreshold)) return image;
  image = WithinDepthsOnBackground(std::move(image), 4, settings);
  if (!image) return image;
  const auto level = static_cast<BYTE>(settings.Int(SettingId::Threshold) & 0xFF);
  return Adopt(FreeImage_Threshold(image.get(), level));
}

ImagePtr ApplyDither(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageDither)) return image;
  image = WithinDepthsOnBackground(std::move(image), 4, settings);
  if (!image) return image;
  return Adopt(FreeImage_Dither(image.get(), DitherAlgorithm(settings.Int(SettingId::Dither))));
}

}  // namespace kestrel
