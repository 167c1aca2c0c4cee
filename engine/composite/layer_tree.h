// The file's layers as a tree of groups. The layer records run bottom to
// top, a group's end marker below its layers and its folder record above
// them; each level of the tree keeps that order. Nesting stops at 64 levels
// (the top one included): deeper markers are taken as plain layers. Groups
// a damaged file leaves open give their layers to the group around them.
#pragma once

#include <vector>

#include "engine/psd/layer_records.h"

namespace kestrel {

struct LayerNode {
  const PsdLayer* layer = nullptr;  // a group's folder record, for a group
  bool group = false;
  std::vector<LayerNode> children;  // a group's layers, bottom to top
};

std::vector<LayerNode> BuildLayerTree(const std::vector<PsdLayer>& layers);

}  // namespace kestrel
