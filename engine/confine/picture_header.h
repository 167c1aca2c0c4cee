// A cheap structural check of a watermark picture, made from the file's own
// bytes before any decoder sees it: the kind (BMP, ICO, JPEG or PNG, told by
// signature; any other kind is refused), and the width and height the header
// declares, which must be positive and, together, within the layer cap. An
// uncompressed BMP or icon must also hold the rows it declares. Pure code over
// bytes: it decodes nothing.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/byte_reader.h"

namespace kestrel {

// The largest layer the program draws: a picture with more pixels is refused
// unread, and a larger drawing request fails like a failed allocation.
inline constexpr std::int64_t kMaxLayerPixels = std::int64_t{1} << 28;

struct PictureHeader {
  FREE_IMAGE_FORMAT format = FIF_UNKNOWN;  // FIF_BMP, FIF_ICO, FIF_JPEG or FIF_PNG
  std::uint32_t width = 0;                 // of the image a decoder makes of the file
  std::uint32_t height = 0;
};

struct PictureHeaderCheck {
  bool ok = false;
  // Why the picture was refused, in plain words for the user.
  std::string problem;
  PictureHeader header;
};

// Checks a picture file of fileSize bytes read through `read`.
PictureHeaderCheck CheckPictureHeader(std::uint64_t fileSize, const ByteSource& read);

// The same over bytes in memory.
PictureHeaderCheck CheckPictureHeader(std::span<const std::uint8_t> bytes);

}  // namespace kestrel
