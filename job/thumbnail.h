// Thumbnails for file managers: the document's picture, scaled so that its
// longest edge is the size asked for, written as a PNG with its transparency.
#pragma once

#include <string>

#include "platform/outcome.h"

namespace kestrel {

// The sizes a thumbnail may be asked for, in pixels along the longest edge.
inline constexpr int kSmallestThumbnail = 1;
inline constexpr int kLargestThumbnail = 4096;

// Writes the thumbnail of the document at `input` to `output`. The picture is
// the one a conversion gives (the stored merged image, or the layers rebuilt,
// colour managed), decoded in the confined child; a picture already smaller
// than `size` keeps its size. On any failure nothing is left at `output`.
Outcome WriteThumbnail(const std::string& input, const std::string& output, int size);

}  // namespace kestrel
