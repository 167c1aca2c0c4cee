// The record in which the decoding child hands a bitmap to the parent through
// shared memory: a fixed header, the palette, the transparency table, the ICC
// profile, then the pixel rows exactly as FreeImage lays them out. The parent
// trusts none of it: every field is checked against the others, against the
// record's size and against the size the file's header declared.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <memory>
#include <span>

#include "engine/image.h"
#include "engine/psd_header.h"

namespace kestrel {

// Child side: writes image into the memory file fd.
bool WriteDecodedImage(FIBITMAP* image, int fd);

// Parent side: a new bitmap with a copy of the record's pixels, or null when
// anything in the record is inconsistent or it is not of the expected size.
ImagePtr ReadDecodedImage(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight);

// The same checks, but the bitmap is made over the record's own pixel rows;
// `owner` keeps the record's memory alive for as long as the bitmap lives.
ImagePtr AdoptDecodedImage(std::span<std::uint8_t> record, std::shared_ptr<void> owner, std::uint32_t expectedWidth,
                           std::uint32_t expectedHeight);

}  // namespace kestrel
