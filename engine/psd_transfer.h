// The record in which the decoding child hands a bitmap to the parent through
// shared memory: a fixed header, the palette, the transparency table, the ICC
// profile, then the pixel rows exactly as FreeImage lays them out. The parent
// trusts none of it: every field is checked against the others, against the
// record's size and against the size the file's header declared.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <span>

#include "engine/image.h"
#include "engine/psd_header.h"

namespace kestrel {

// Child side: writes image into the memory file fd.
bool WriteDecodedImage(FIBITMAP* image, int fd);

// Parent side: a new bitmap made from the record of recordSize bytes read
// through `read` (the pixels go straight into the bitmap), or null when
// anything in it is inconsistent or it is not of the expected width and height.
ImagePtr ReadDecodedImage(std::uint64_t recordSize, const PsdByteReader& read, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight);

// The same over a record in memory.
ImagePtr ReadDecodedImage(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight);

}  // namespace kestrel
