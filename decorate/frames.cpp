#include "decorate/frames.h"

namespace kestrel {

ImagePtr DrawSolidFrames(ImagePtr image, const Settings& settings, unsigned /*width*/, unsigned /*height*/) {
  if (!image || settings.Int(SettingId::DoFrame) == 0) return image;
  // TODO(decoration): the eight frame shapes.
  return image;
}

}  // namespace kestrel
