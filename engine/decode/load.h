// Reading an input image. Every input file is decoded through here (the
// watermark picture has a confined loader of its own, engine/confine/picture_load.h).
#pragma once

#include <cstddef>
#include <string>

#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel {

// FreeImage load flags for an input format: for "psd", PSD-COLOR-MODE picks
// RGB (0), CMYK (1) or Lab (2) reading; anything else loads with 0.
int LoadFlagsForInput(const Settings& settings, const std::string& extension);

// Decodes the Photoshop image at path, or says why it cannot be read. The
// header is checked first and the decoder runs confined
// (engine/decode/confined_psd.h), so a hostile file fails alone and cannot harm the
// process.
ImageResult LoadInputImage(const std::string& path, int flags);

// One layer or group of the file alone, the same way confined.
ImageResult LoadInputLayer(const std::string& path, int flags, std::size_t layer);

}  // namespace kestrel
