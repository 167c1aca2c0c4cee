// A small picture of an image file (a watermark picture) for the preferences
// dialog. The file is opened and its header checked as the watermark's
// loader does (engine/confine/picture_load.h), then decoded in a confined
// child under the same limits that sends back only the shrunken pixels; the
// parent checks their size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

struct Thumbnail {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;  // rows top to bottom, 4 bytes a pixel
};

// The picture (BMP, ICO, JPEG or PNG, as the watermark takes) within
// side x side pixels, its proportions kept; nothing for another file, a file
// larger than 64 MB, one whose header the watermark's loader refuses, or one
// the decoder fails on.
std::optional<Thumbnail> ReadPictureThumbnail(const std::string& path, int side);

}  // namespace kestrel
