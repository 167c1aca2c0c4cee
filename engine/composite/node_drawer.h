// Draws the tree of a file's layers onto a canvas, bottom to top. A node is
// drawn in steps: it may be left out (hidden; adjustment layers of kinds not
// drawn and fill layers whose settings cannot be drawn are counted); an
// adjustment layer changes the colour of what lies beneath it, never its alpha; its style is read
// (overlays alone are painted on a layer's rows; other effects, and a group's,
// are drawn around the node made whole; what is not drawn is counted); its pixels are laid down in its blend mode at its
// opacity, cut by its raster and vector masks. A plain layer is read row by
// row as it is laid down; a group, or a layer with others clipped to it, is
// made whole on a canvas of its own first, and a clipped layer changes its
// base's colour only, never its alpha; a base that does not blend its
// clipped layers as a group has each laid onto what lies beneath, where the
// base has pixels. An artboard is a group drawn on its own within its
// rectangle, over its background. A pass-through group draws straight
// onto what lies beneath, then fades between that and what was there before
// by its opacity, mask and blend-if ranges. Layers under one that covers the whole canvas
// opaquely in normal mode are not drawn, as nothing of them could show.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/composite/adjustment_layers.h"
#include "engine/composite/blend_modes.h"
#include "engine/composite/canvas.h"
#include "engine/composite/compositor.h"
#include "engine/composite/fill_layers.h"
#include "engine/composite/layer_effects.h"
#include "engine/composite/layer_mask_coverage.h"
#include "engine/composite/layer_tree.h"
#include "engine/psd/document.h"

namespace kestrel {

class LayerRows;

// T is the canvas sample: std::uint8_t, std::uint16_t or float.
template <typename T>
class NodeDrawer {
 public:
  // `channels`: the colour channels of the canvas, in the samples the file
  // stores. Counts, and the problem that stops the drawing, go to `result`.
  NodeDrawer(const PsdDocument& document, int channels, LayerComposite& result);

  // Draws `nodes`, bottom to top, onto `dest`. False when a layer's data is
  // damaged; result.problem says which.
  bool Draw(const std::vector<LayerNode>& nodes, Canvas<T>& dest);

 private:
  bool HidesAllBelow(const LayerNode& node, const PsdRect& rect);
  bool DrawNode(const LayerNode& node, std::span<const LayerNode> clipped, Canvas<T>& dest);
  LayerStyle StyleOf(const LayerNode& node);
  bool OpenLayerRows(const PsdLayer& layer, std::unique_ptr<FillPainter> fill, const LayerStyle& style,
                     LayerRows& rows);
  // `grow`: pixels the canvas reaches beyond the node's box, for its effects.
  bool MakeWhole(const LayerNode& node, std::unique_ptr<FillPainter> fill, const LayerStyle& style,
                 const PsdRect& within, Canvas<T>& whole, int grow = 0);
  bool DrawWithEffects(const LayerNode& node, std::span<const LayerNode> clipped, std::unique_ptr<FillPainter> fill,
                       const LayerStyle& style, Canvas<T>& dest);
  // Lays the node's pixels onto dest: its layer's `rows` as they are read, or `whole` (the other is null).
  bool Lay(const LayerNode& node, LayerRows* rows, const Canvas<T>* whole, BlendMode mode, float opacity,
           Canvas<T>& dest);
  bool KnockoutStop(const LayerNode& node, const PsdRect& area, const Canvas<T>*& stop);
  std::vector<float> VectorMaskCoverage(const LayerNode& node, const PsdRect& area) const;
  bool CutCoverage(const PsdLayer& layer, const std::vector<float>& vector, const PsdRect& area, std::int64_t y,
                   float opacity, std::vector<float>& coverage);
  bool DrawClipped(const LayerNode& node, Canvas<T>& base);
  bool DrawClippedApart(const LayerNode& base, std::span<const LayerNode> clipped, Canvas<T>& dest);
  void PaintArtboardBackground(const PsdArtboard& artboard, Canvas<T>& canvas) const;
  bool Adjust(const LayerNode& node, const ColourAdjustment& adjustment, Canvas<T>& dest);
  bool DrawPassThrough(const LayerNode& node, float opacity, Canvas<T>& dest);
  PsdRect Bounds(const LayerNode& node) const;     // with the node's effects
  PsdRect OwnBounds(const LayerNode& node) const;  // without them
  int ReachOf(const PsdLayer& layer) const;
  bool Damaged(const PsdLayer& layer);
  bool MaskDamaged(const PsdLayer& layer);

  std::span<const std::uint8_t> file_;
  const PsdHeader& header_;
  int channels_;
  LayerComposite& result_;
  PsdRect picture_;
  DescriptorColours colours_;  // fill and overlay colours in the file's samples
  BlendSpace space_;
  EffectContext effects_;      // what the layers' effects read
  LayerMaskCoverage masks_;
  PatternLibrary patterns_;  // the file's stored patterns, decoded when a layer draws one
  mutable std::unordered_map<const PsdLayer*, int> reach_;  // each styled layer's effects' reach
  // Knockout stops: the canvas where the innermost group began (when it
  // holds a shallow knockout), the background layer alone, and whether the
  // drawing is inside a group drawn on its own, below which nothing shows.
  const std::vector<LayerNode>* top_ = nullptr;
  const Canvas<T>* groupStop_ = nullptr;
  std::optional<Canvas<T>> backgroundStop_;
  bool isolated_ = false;
  // Puts the stops back as they were when a group's drawing ends.
  struct KnockoutScope {
    KnockoutScope(const Canvas<T>*& group, bool& isolated, bool inside)
        : group_(group), isolated_(isolated), savedGroup_(group), savedIsolated_(isolated) {
      isolated = inside;
    }
    ~KnockoutScope() { group_ = savedGroup_, isolated_ = savedIsolated_; }
    KnockoutScope(const KnockoutScope&) = delete;
    KnockoutScope& operator=(const KnockoutScope&) = delete;
    const Canvas<T>*& group_;
    bool& isolated_;
    const Canvas<T>* savedGroup_;
    bool savedIsolated_;
  };
};

}  // namespace kestrel
