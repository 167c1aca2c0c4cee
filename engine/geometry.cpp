#include "engine/geometry.h"

namespace kestrel {

ImagePtr RotateImage(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageRotation)) return image;
  // TODO(image-steps): SIMPLE and ADVANCED rotation.
  return image;
}

ImagePtr ResizeImage(ImagePtr image, const Settings& settings, unsigned /*width*/, unsigned /*height*/) {
  if (!image || !settings.IsOn(SettingId::DoImageResize)) return image;
  // TODO(image-steps): resize by pixels or percent with the aspect ratio and filter.
  return image;
}

void FlipImage(FIBITMAP* image, const Settings& settings) {
  if (image == nullptr) return;
  if (settings.IsOn(SettingId::FlipHorizontal)) FreeImage_FlipHorizontal(image);
  if (settings.IsOn(SettingId::FlipVertical)) FreeImage_FlipVertical(image);
}

}  // namespace kestrel
