// The picture watermark's layer.
#pragma once

#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel {

// The WM-IMAGE picture (24-bit, or 32-bit with alpha, as the engine's
// confined picture loader hands it over) as a 32-bit straight-alpha bitmap
// with the watermark opacity and, when asked, in grey. No picture, or one of
// another layout, gives none.
ImagePtr MakeImageLayer(FIBITMAP* picture, const Settings& settings);

}  // namespace kestrel
