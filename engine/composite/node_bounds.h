// The part of the picture a node of the layer tree can change: a layer's
// rectangle, a fill's bounds, the box around a group's layers, grown by how
// far the effects of each reach. Nothing outside it needs a group's canvas
// or a copy of what lay beneath.
#pragma once

#include <functional>

#include "engine/composite/layer_tree.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

// How many pixels a layer's effects reach beyond its pixels.
using EffectReach = std::function<int(const PsdLayer& layer)>;

// With `reach` null the effects are not counted.
PsdRect NodeBounds(const LayerNode& node, const PsdRect& picture, const EffectReach& reach = nullptr);

// The same without the node's own effects (a group's layers keep theirs).
PsdRect NodeOwnBounds(const LayerNode& node, const PsdRect& picture, const EffectReach& reach = nullptr);

}  // namespace kestrel
