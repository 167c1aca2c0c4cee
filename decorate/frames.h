// Solid frames along the image edges.
#pragma once

#include "engine/image.h"
#include "settings/settings.h"

namespace kestrel {

// width and height are the image size right after the resize step.
ImagePtr DrawSolidFrames(ImagePtr image, const Settings& settings, unsigned width, unsigned height);

}  // namespace kestrel
