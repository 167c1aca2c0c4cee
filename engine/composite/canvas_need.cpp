#include "engine/composite/canvas_need.h"

#include <algorithm>
#include <span>

#include "engine/composite/blend_modes.h"
#include "engine/composite/fill_layers.h"
#include "engine/composite/layer_mask_coverage.h"
#include "engine/composite/layer_tree.h"
#include "engine/composite/node_bounds.h"
#include "engine/composite/rects.h"
#include "engine/composite/vector_mask.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kFractionBytes = sizeof(float);

std::uint64_t Area(const PsdRect& r) { return static_cast<std::uint64_t>(r.Width() * r.Height()); }

// Walks the tree as the node drawer draws it, adding up what is alive at once.
class CanvasNeed {
 public:
  CanvasNeed(const PsdRect& picture, int channels, int sampleBytes)
      : picture_(picture), alphaBytes_(static_cast<std::uint64_t>(sampleBytes)),
        pixelBytes_(static_cast<std::uint64_t>(channels + 1) * alphaBytes_) {}

  // The peak of drawing `nodes`, bottom to top, on a canvas over `within`.
  std::uint64_t Nodes(const std::vector<LayerNode>& nodes, const PsdRect& within) const {
    std::uint64_t peak = 0;
    for (std::size_t i = 0; i < nodes.size();) {
      const LayerNode& base = nodes[i];
      std::size_t end = i + 1;
      while (end < nodes.size() && nodes[end].layer->clipping && !base.layer->clipping) ++end;
      peak = std::max(peak, Node(base, std::span(nodes).subspan(i + 1, end - i - 1), within));
      i = end;
    }
    return peak;
  }

 private:
  std::uint64_t Node(const LayerNode& node, std::span<const LayerNode> clipped, const PsdRect& within) const {
    const PsdLayer& layer = *node.layer;
    if (layer.hidden) return 0;
    if (layer.isAdjustment) return VectorMaskBytes(node, within);
    const PsdRect area = Intersect(Bounds(node), within);
    const bool passThrough = BlendModeFromKey(layer.blendMode) == BlendMode::PassThrough;
    if (node.group && passThrough && clipped.empty()) {
      const bool fades = layer.opacity < 255 || layer.fillOpacity < 255 || LayerMaskCoverage::Masks(layer);
      return (fades ? Area(area) * pixelBytes_ : 0) + Nodes(node.children, within);
    }
    // A fill cut by its vector mask holds the shape over its bounds while it is painted.
    const std::uint64_t shape = !node.group && DrawnFromSettings(layer) && layer.hasVectorMask &&
                                        !layer.vectorMask.disabled
                                    ? Area(area) * kFractionBytes
                                    : 0;
    const std::uint64_t laying = shape + VectorMaskBytes(node, area);
    if (!node.group && clipped.empty()) return laying;
    // Made whole on a canvas of its own, which the clipped layers draw on.
    const PsdRect whole = node.group ? area : Intersect(Bounds(node), picture_);
    std::uint64_t inside = node.group ? Nodes(node.children, whole) : shape;
    for (const LayerNode& top : clipped) inside = std::max(inside, Area(whole) * alphaBytes_ + Node(top, {}, whole));
    return Area(whole) * pixelBytes_ + std::max(inside, laying);
  }

  PsdRect Bounds(const LayerNode& node) const { return NodeBounds(node, picture_); }

  // A vector mask is rasterised over the area a layer is laid on (a fill's
  // or shape's is its pixels already, and a group's mask is not drawn).
  static std::uint64_t VectorMaskBytes(const LayerNode& node, const PsdRect& area) {
    if (!VectorMaskCutsPixels(*node.layer) || node.group) return 0;
    return Area(area) * kFractionBytes;
  }

  PsdRect picture_;
  std::uint64_t alphaBytes_;
  std::uint64_t pixelBytes_;
};

}  // namespace

std::uint64_t NestedCanvasBytes(const std::vector<PsdLayer>& layers, const PsdRect& picture, int channels,
                                int sampleBytes) {
  return CanvasNeed(picture, channels, sampleBytes).Nodes(BuildLayerTree(layers), picture);
}

}  // namespace kestrel
