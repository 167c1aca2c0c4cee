#include "engine/composite/node_bounds.h"

#include "engine/composite/fill_layers.h"
#include "engine/composite/rects.h"

namespace kestrel {

PsdRect NodeBounds(const LayerNode& node, const PsdRect& picture, const EffectReach& reach) {
  const PsdRect own = NodeOwnBounds(node, picture, reach);
  const int grow = reach && !node.layer->hidden ? reach(*node.layer) : 0;
  return grow > 0 ? Intersect(Grown(own, grow), picture) : own;
}

PsdRect NodeOwnBounds(const LayerNode& node, const PsdRect& picture, const EffectReach& reach) {
  // An artboard shows its layers within its rectangle, over its background.
  if (node.group && node.layer->artboard.present) return Intersect(node.layer->artboard.rect, picture);
  if (node.group) {
    PsdRect all;
    for (const LayerNode& child : node.children) all = Union(all, NodeBounds(child, picture, reach));
    return all;
  }
  if (DrawnFromSettings(*node.layer)) return FillLayerBounds(*node.layer, picture);
  return Intersect(node.layer->rect, picture);
}

}  // namespace kestrel
