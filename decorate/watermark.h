// Text and picture watermarks.
#pragma once

#include "engine/image.h"
#include "settings/app_state.h"

namespace kestrel {

// width and height are the image size right after the resize step.
ImagePtr DrawWatermark(ImagePtr image, AppState& state, unsigned width, unsigned height);

}  // namespace kestrel
