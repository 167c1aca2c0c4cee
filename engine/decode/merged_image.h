// The merged image of a Photoshop file in grey, RGB, CMYK or Lab mode, at 8,
// 16 or 32 bits, raw or run-length coded, decoded straight into the bitmap a
// display shows: 8-bit grey, 24-bit RGB, or 32-bit RGBA with straight alpha
// when the file marks a channel as transparency. Runs in the confined decoder.
#pragma once

#include <cstdint>
#include <span>

#include "engine/bitmap/image.h"
#include "engine/psd/document.h"

namespace kestrel {

// Whether DecodeMergedImage takes this file's merged image.
bool DecodesMergedImage(const PsdDocument& document);

// Null when the data is not what the document says.
ImagePtr DecodeMergedImage(const PsdDocument& document);

}  // namespace kestrel
