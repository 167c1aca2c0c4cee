// The 124-byte BITMAPV5HEADER: the one BMP header that the common readers
// (the system codecs, browsers, image editors) take with an alpha channel.
// FreeImage writes only the 40-byte header, so a V5 file is FreeImage's
// encoding laid out again under this header.
#pragma once

#include <FreeImage.h>

#include <array>
#include <cstdint>

namespace kestrel {

inline constexpr std::size_t kBmpV5HeaderSize = 124;

// The V5 header of an image whose 40-byte header the encoder wrote as
// `info`: the same size, depth, compression and colour count, and
// - 32 bits: BI_BITFIELDS with red 00FF0000, green 0000FF00, blue 000000FF
//   and alpha FF000000;
// - 16 bits: BI_BITFIELDS with the 5-6-5 or 5-5-5 masks of `green565`;
// - other depths: their own compression (BI_RGB or run lengths) and no masks;
// colour space sRGB, rendering intent "images".
std::array<unsigned char, kBmpV5HeaderSize> BmpV5Header(const BITMAPINFOHEADER& info, bool green565);

}  // namespace kestrel
