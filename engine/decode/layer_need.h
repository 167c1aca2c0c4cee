// What drawing a file's layers will cost, read by the parent from the layer
// records (by position, before the decoder starts): the child's memory limit
// is made from it, and a file whose picture is drawn from its layers is
// refused up front when the machine cannot hold what that takes, rather than
// stopped midway.
#pragma once

#include <cstdint>

#include "engine/psd/header.h"
#include "platform/byte_reader.h"

namespace kestrel {

struct LayerDrawingNeed {
  std::uint32_t layers = 0;  // the layer records the file declares
  // The compositor's canvases at their peak: the picture's, the picture
  // made from it, and those of the groups nested at the deepest point.
  std::uint64_t compositorBytes = 0;
  // The merged image is marked as a placeholder: the picture is drawn from the layers.
  bool drawsLayers = false;
};

LayerDrawingNeed ReadLayerDrawingNeed(const ByteSource& read, std::uint64_t fileSize, const PsdHeader& header);

}  // namespace kestrel
