// One layer or group drawn alone: the document cut down to that record and,
// for a group, the records between its end marker and its folder record. The
// layer is drawn with its own masks, effects, opacity and blend mode over
// transparency at the document's size, whatever its groups, its visibility
// or a clipping base below it would do to it in the whole picture.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "engine/bitmap/image.h"
#include "engine/psd/document.h"

namespace kestrel {

// The document holding only the layer at `index` (a record of the file) and
// what it contains; nothing when there is no such layer (or it is a group's end marker).
std::optional<PsdDocument> DocumentOfOneLayer(const PsdDocument& document, std::size_t index);

// The picture of that layer alone, or why there is none.
ImageResult DrawLayerAlone(const PsdDocument& document, std::size_t index);

}  // namespace kestrel
