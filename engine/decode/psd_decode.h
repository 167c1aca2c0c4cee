// What the confined decoder does with a Photoshop file: it reads the document
// once, decodes the merged image (with the program's own decoder where it
// reads the mode and depth, else with FreeImage), rebuilds the picture from
// the layers where the merged image is a placeholder or missing, and gives
// an indexed picture the palette of the file's own colour data.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string>

#include "engine/decode/layer_rebuild.h"
#include "engine/psd/header.h"

namespace kestrel {

struct DecodedPsd {
  // The picture, or null. Not owned: in the confined child it is left to
  // the child's end, since after a decoder that damaged its heap the unload
  // could crash a child that has a good image to send.
  FIBITMAP* image = nullptr;
  LayerRebuildNote note;
  std::string why;  // why the layers could not be composited, when they were tried and failed
};

// Decodes the open file `fd` of `size` bytes whose checked header is
// `header`; `mapped` is all of it in memory, or null when it could not be
// mapped (FreeImage then reads it by position and the layers are not read).
// `flags` are FreeImage's PSD load flags: the raw channel modes (PSD_CMYK,
// PSD_LAB) always go to FreeImage. When the picture is to be drawn from the
// layers and their canvases need more than `compositorRoom` bytes, nothing
// is decoded: the note says what they need.
DecodedPsd DecodePsd(int fd, std::uint64_t size, const std::uint8_t* mapped, int flags, const PsdHeader& header,
                     std::uint64_t compositorRoom = UINT64_MAX);

}  // namespace kestrel
