// The picture watermark's layer.
#pragma once

#include "engine/image.h"
#include "model/settings.h"

namespace kestrel {

// Reads the WM-IMAGE picture (BMP, ICO, JPEG or PNG; any other kind gives
// none) and returns it as a 32-bit straight-alpha bitmap with the watermark
// opacity and, when asked, in grey. Read anew on every call.
ImagePtr MakeImageLayer(const Settings& settings);

}  // namespace kestrel
