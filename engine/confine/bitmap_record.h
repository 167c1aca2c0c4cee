// The record in which the decoding child hands a bitmap to the parent through a
// pipe: a fixed header, the palette, the transparency table, the ICC
// profile, then the pixel rows exactly as FreeImage lays them out. The parent
// trusts none of it: every field is checked against the others, against the
// size the file's header declared, before the next part is read.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "engine/bitmap/image.h"

namespace kestrel {

// Child side: writes image's record to fd (a pipe or a file), front to back.
bool WriteDecodedImage(FIBITMAP* image, int fd);

// Fills all of buffer with the record's next bytes, or returns false.
using RecordSource = std::function<bool(void* buffer, std::size_t size)>;

// Parent side: a new bitmap read from source, or null when anything in the
// record is inconsistent, is not of the expected size or would need more than
// maxPixelBytes of pixels. The pixel rows are read straight into the bitmap's memory.
ImagePtr ReceiveDecodedImage(const RecordSource& source, std::uint32_t expectedWidth, std::uint32_t expectedHeight,
                             std::uint64_t maxPixelBytes);

// The same over a record held in memory.
ImagePtr ReadDecodedImage(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight);

}  // namespace kestrel
