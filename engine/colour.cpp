#include "engine/colour.h"

namespace kestrel {

ImagePtr AdjustColours(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageColorCorrection)) return image;
  // TODO(image-steps): brightness, contrast, gamma and inversion.
  return image;
}

ImagePtr ApplyGreyscale(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::Greyscale)) return image;
  // TODO(image-steps): greyscale.
  return image;
}

ImagePtr ApplyThreshold(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageThreshold)) return image;
  // TODO(image-steps): threshold.
  return image;
}

ImagePtr ApplyDither(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageDither)) return image;
  // TODO(image-steps): dithering.
  return image;
}

}  // namespace kestrel
