// Loading a watermark picture without trusting it, the way the input is
// loaded: the file is opened without blocking (a regular file only), its
// header is checked (kind and size, see engine/confine/picture_header.h), and
// FreeImage decodes it in a confined decode (engine/confine/confined_decode.h)
// that hands back the rows as 24-bit colour, or 32-bit colour with alpha. A crash, a limit or a hang of the
// decoder costs the picture only.
#pragma once

#include <string>

#include "engine/bitmap/image.h"
#include "engine/confine/picture_header.h"
#include "platform/sandbox.h"

namespace kestrel {

// The picture as a 24-bit bitmap, or a 32-bit one when it has alpha (an icon's
// transparency mask becomes its alpha; a 32-bit BMP whose fourth bytes are all
// zero is opaque); or no picture and why, in words for the user.
ImageResult LoadPictureSandboxed(const std::string& path);

// The limits of a confined decode of the picture whose checked header is
// `header`, in a file of `fileSize` bytes.
SandboxLimits PictureDecodeLimits(const PictureHeader& header, std::uint64_t fileSize);

// The conversion of a decoded picture to those two layouts; null when it fails.
// Runs in the confined child; public for the tests.
FIBITMAP* PictureAsRgb(FIBITMAP* picture, bool isBmp);

}  // namespace kestrel
