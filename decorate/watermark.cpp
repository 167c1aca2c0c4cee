#include "decorate/watermark.h"

namespace kestrel {

ImagePtr DrawWatermark(ImagePtr image, AppState& state, unsigned /*width*/, unsigned /*height*/) {
  if (!image || state.settings.Int(SettingId::DoWatermark) == 0) return image;
  // TODO(decoration): text watermark (1) and picture watermark (2).
  return image;
}

}  // namespace kestrel
