// The composited canvas handed over as the picture, in the form the
// merged-image decoder gives for the file's mode and depth. A grey or RGB
// canvas, which lives on its bitmap (Canvas::OnBitmap), is that bitmap when
// the layers cover every pixel; otherwise its colour goes across with
// straight alpha beside it, grey as RGB: 32-bit BGRA, RGBA16 or RGBAF. CMYK
// and Lab canvases are shown through the file's colour conversion as 24-bit
// RGB, or 32-bit with the alpha the layers leave. Null without memory.
#pragma once

#include "engine/bitmap/image.h"
#include "engine/composite/canvas.h"
#include "engine/psd/document.h"

namespace kestrel {

// The bitmap may be taken from `canvas`.
template <typename T>
ImagePtr FinishPicture(Canvas<T>& canvas, const PsdDocument& document);

}  // namespace kestrel
