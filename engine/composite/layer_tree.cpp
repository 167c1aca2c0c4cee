#include "engine/composite/layer_tree.h"

#include <utility>

namespace kestrel {
namespace {

constexpr std::size_t kMaxGroupDepth = 64;

}  // namespace

std::vector<LayerNode> BuildLayerTree(const std::vector<PsdLayer>& layers) {
  std::vector<std::vector<LayerNode>> open(1);  // the levels not yet closed, outermost first
  for (const PsdLayer& layer : layers) {
    if (layer.section == PsdSection::GroupEnd && open.size() < kMaxGroupDepth) {
      open.emplace_back();
    } else if (layer.section == PsdSection::OpenFolder || layer.section == PsdSection::ClosedFolder) {
      LayerNode group{&layer, true, {}};
      if (open.size() > 1) {
        group.children = std::move(open.back());
        open.pop_back();
      }
      open.back().push_back(std::move(group));
    } else if (layer.section != PsdSection::GroupEnd) {
      open.back().push_back(LayerNode{&layer, false, {}});
    }
  }
  while (open.size() > 1) {
    std::vector<LayerNode> inner = std::move(open.back());
    open.pop_back();
    for (LayerNode& node : inner) open.back().push_back(std::move(node));
  }
  return std::move(open.front());
}

}  // namespace kestrel
