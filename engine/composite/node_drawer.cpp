#include "engine/composite/node_drawer.h"

#include <algorithm>
#include <functional>
#include <type_traits>
#include <utility>

#include "engine/composite/adjustment_kinds.h"
#include "engine/composite/blend_if.h"
#include "engine/composite/canvas_blend.h"
#include "engine/composite/dissolve.h"
#include "engine/composite/knockout.h"
#include "engine/composite/effect_layering.h"
#include "engine/composite/layer_rows.h"
#include "engine/composite/node_bounds.h"
#include "engine/composite/rects.h"
#include "engine/composite/stored_colour_display.h"
#include "engine/composite/vector_mask.h"

namespace kestrel {
namespace {

bool DrawnFromSettings(const LayerNode& node) { return !node.group && kestrel::DrawnFromSettings(*node.layer); }

void AddOnce(std::vector<std::string>& names, std::string_view name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
}

// Over `region`, `out` becomes `before` faded towards `after` by the
// fractions `fadeRow` gives for each row (false: the drawing stops). `out`
// may be either of the two.
template <typename T>
bool Fade(const Canvas<T>& before, const Canvas<T>& after, const PsdRect& region, int n,
          const std::function<bool(std::int64_t y, std::vector<float>& fade)>& fadeRow, Canvas<T>& out) {
  const auto width = static_cast<std::size_t>(region.Width());
  std::vector<float> beforeColour(width * n), beforeAlpha(width), colour(width * n), alpha(width), fade(width);
  for (std::int64_t y = region.top; y < region.bottom; ++y) {
    if (!fadeRow(y, fade)) return false;
    before.LoadRow(y, region.left, width, beforeColour.data(), beforeAlpha.data());
    after.LoadRow(y, region.left, width, colour.data(), alpha.data());
    for (std::size_t x = 0; x < width; ++x) {
      const float a = beforeAlpha[x] + (alpha[x] - beforeAlpha[x]) * fade[x];
      for (int c = 0; c < n; ++c) {
        const std::size_t at = x * n + c;
        const float premultiplied =
            beforeColour[at] * beforeAlpha[x] + (colour[at] * alpha[x] - beforeColour[at] * beforeAlpha[x]) * fade[x];
        colour[at] = a > 0 ? premultiplied / a : 0.0f;
      }
      alpha[x] = a;
    }
    out.StoreRow(y, region.left, width, colour.data(), alpha.data());
  }
  return true;
}

bool IsArtboard(const LayerNode& node) { return node.group && node.layer->artboard.present; }

}  // namespace

template <typename T>
NodeDrawer<T>::NodeDrawer(const PsdDocument& document, int channels, LayerComposite& result)
    : file_(document.file), header_(document.header), channels_(channels), result_(result),
      picture_(PictureRect(header_)), colours_(header_.colourMode, header_.depth, document.resources.iccProfile),
      space_(BlendSpaceOf(header_.colourMode, header_.depth)),
      effects_{colours_, space_, channels, picture_, static_cast<double>(document.resources.globalAngle.value_or(120)),
               static_cast<double>(document.resources.globalAltitude.value_or(30)), &document, &patterns_},
      masks_(file_, header_.depth, header_.version), patterns_(file_, header_, colours_.Channels()) {}

template <typename T>
bool NodeDrawer<T>::Draw(const std::vector<LayerNode>& nodes, Canvas<T>& dest) {
  // A shallow knockout in a group shows the picture as it was where the group began.
  if (top_ == nullptr) top_ = &nodes;
  std::optional<Canvas<T>> start;
  const KnockoutScope scope(groupStop_, isolated_, isolated_);
  if (top_ != &nodes && HasShallowKnockout(nodes)) groupStop_ = &start.emplace(CopyOf(dest));
  // What lies under a layer that covers all of `dest` opaquely in normal
  // mode cannot show: drawing starts at the topmost such layer.
  std::size_t first = nodes.size();
  while (first > 0 && !HidesAllBelow(nodes[first - 1], dest.rect)) --first;
  if (first > 0) --first;
  for (std::size_t i = first; i < nodes.size();) {
    const LayerNode& base = nodes[i];
    // The layers clipped to this one follow it.
    std::size_t end = i + 1;
    while (end < nodes.size() && nodes[end].layer->clipping && !base.layer->clipping) ++end;
    if (!DrawNode(base, std::span(nodes).subspan(i + 1, end - i - 1), dest)) return false;
    i = end;
  }
  return true;
}

template <typename T>
bool NodeDrawer<T>::DrawNode(const LayerNode& node, std::span<const LayerNode> clipped, Canvas<T>& dest) {
  const PsdLayer& layer = *node.layer;
  if (layer.hidden) return true;
  if (layer.isAdjustment) {
    const std::optional<ColourAdjustment> adjustment = ReadColourAdjustment(file_, layer, header_, colours_);
    if (!adjustment) {
      ++result_.adjustmentsSkipped;
      result_.kindsLeftOut |= AdjustmentKindBit(layer.adjustment.key);
      return true;
    }
    return Adjust(node, *adjustment, dest);
  }
  // A fill layer without pixels is drawn from its settings; fills whose
  // settings cannot be drawn are counted and left out.
  const bool fromSettings = DrawnFromSettings(node);
  FillReading fill;
  if (fromSettings) fill = ReadFillLayer(file_, layer, header_, colours_, patterns_);
  if (fromSettings && !fill.painter) {
    ++result_.adjustmentsSkipped;
    // Damaged settings cost only their own layer, which the user is told of.
    if (fill.damaged) result_.damagedFills.push_back(layer.name);
    else result_.kindsLeftOut |= AdjustmentKindBit(layer.fill.key);
    return true;
  }
  // Layers clipped to a base that does not blend them with it as one are
  // laid one by one onto what lies beneath, each where the base has pixels.
  if (!clipped.empty() && !layer.blendClippedAsGroup) {
    return DrawNode(node, {}, dest) && DrawClippedApart(node, clipped, dest);
  }
  const LayerStyle style = StyleOf(node);
  // An artboard's layers are drawn on its own canvas, over its background.
  const BlendMode stored = BlendModeFromKey(layer.blendMode);
  const BlendMode mode = IsArtboard(node) && stored == BlendMode::PassThrough ? BlendMode::Normal : stored;
  // A layer with overlays has its fill opacity in its pixels already.
  const float opacity = layer.opacity / 255.0f * (style.overlays.empty() ? layer.fillOpacity / 255.0f : 1.0f);
  // Effects other than overlays alone are drawn around the layer made whole.
  const bool withEffects = !style.effects.empty() && style.overlays.empty();
  if (withEffects) return DrawWithEffects(node, clipped, std::move(fill.painter), style, dest);
  if (node.group && mode == BlendMode::PassThrough && clipped.empty()) return DrawPassThrough(node, opacity, dest);
  if (!node.group && clipped.empty()) {
    // A plain layer is read row by row as it is laid down.
    LayerRows rows(picture_.Width());
    if (!OpenLayerRows(layer, std::move(fill.painter), style, rows)) return false;
    ++result_.layersDrawn;
    return Lay(node, &rows, nullptr, mode, opacity, dest);
  }
  // A group, or a layer with others clipped to it, is made whole first.
  Canvas<T> whole;
  if (!MakeWhole(node, std::move(fill.painter), style, dest.rect, whole)) return false;
  for (const LayerNode& top : clipped) {
    if (!DrawClipped(top, whole)) return false;
  }
  return Lay(node, nullptr, &whole, mode, opacity, dest);
}

// A plain layer in normal mode at full opacity, without masks, whose pixels
// are opaque over all of `rect`: a fill of an opaque colour or gradient, or
// stored pixels over the rectangle without a transparency channel. A layer
// clipped to another is not one: its base decides where it shows.
template <typename T>
bool NodeDrawer<T>::HidesAllBelow(const LayerNode& node, const PsdRect& rect) {
  const PsdLayer& layer = *node.layer;
  if (node.group || layer.hidden || layer.isAdjustment || layer.clipping || layer.knockout || BlendIfCuts(layer)) {
    return false;
  }
  if (BlendModeFromKey(layer.blendMode) != BlendMode::Normal || layer.opacity != 255 || layer.fillOpacity != 255) {
    return false;
  }
  if (LayerMaskCoverage::Masks(layer) || (layer.hasVectorMask && !layer.vectorMask.disabled)) return false;
  if (DrawnFromSettings(node)) {
    const FillReading fill = ReadFillLayer(file_, layer, header_, colours_, patterns_);
    return fill.painter && fill.painter->Opaque() && Contains(fill.painter->Rect(), rect);
  }
  const bool transparency = std::any_of(layer.channels.begin(), layer.channels.end(),
                                        [](const PsdLayerChannel& c) { return c.id == kLayerTransparency; });
  return !layer.isFill && !transparency && Contains(layer.rect, rect);
}

// A group's overlays are drawn with its other effects, over the group made whole.
template <typename T>
LayerStyle NodeDrawer<T>::StyleOf(const LayerNode& node) {
  LayerStyle style = ReadLayerStyle(file_, *node.layer, effects_);
  if (node.group) style.overlays.clear();
  if (style.leftOut) ++result_.effectsSkipped;
  for (const std::string& name : style.notDrawn) AddOnce(result_.effectsNotDrawn, name);
  return style;
}

// The node made whole over its box grown by its effects' reach, then laid
// with them; a pass-through group's effects need it drawn on its own too.
template <typename T>
bool NodeDrawer<T>::DrawWithEffects(const LayerNode& node, std::span<const LayerNode> clipped,
                                    std::unique_ptr<FillPainter> fill, const LayerStyle& style, Canvas<T>& dest) {
  const PsdLayer& layer = *node.layer;
  Canvas<T> whole;
  if (!MakeWhole(node, std::move(fill), style, dest.rect, whole, style.Reach())) return false;
  for (const LayerNode& top : clipped) {
    if (!DrawClipped(top, whole)) return false;
  }
  std::vector<float> mask;
  if (LayerMaskCoverage::Masks(layer) || VectorMaskCutsPixels(layer)) {
    const std::vector<float> vector = VectorMaskCoverage(node, whole.rect);
    const auto width = static_cast<std::size_t>(whole.rect.Width());
    std::vector<float> row(width);
    for (std::int64_t y = whole.rect.top; y < whole.rect.bottom; ++y) {
      row.assign(width, 1.0f);
      if (!CutCoverage(layer, vector, whole.rect, y, 1.0f, row)) return false;
      mask.insert(mask.end(), row.begin(), row.end());
    }
  }
  const BlendMode mode = BlendModeFromKey(layer.blendMode);
  // A pass-through group's layers still blend with what lies beneath; only
  // the effects beneath it are drawn from its shape.
  const bool passThrough = node.group && mode == BlendMode::PassThrough && clipped.empty() && !IsArtboard(node);
  EffectLayering how;
  how.mode = mode == BlendMode::PassThrough ? BlendMode::Normal : mode;
  how.opacity = layer.opacity / 255.0f;
  how.fillOpacity = layer.fillOpacity / 255.0f;
  how.blendInteriorAsGroup = layer.blendInteriorAsGroup;
  // One cut for both masks: it hides the effects when a mask present says so.
  const bool vectorMasks = VectorMaskCutsPixels(layer) && !node.group;
  how.maskHidesEffects = (LayerMaskCoverage::Masks(layer) && layer.maskHidesEffects) ||
                         (vectorMasks && layer.vectorMaskHidesEffects);
  how.bounds = OwnBounds(node);
  how.space = space_;
  if (!passThrough) {
    LayWithEffects(style, how, whole, mask, dest);
    return true;
  }
  // The group's layers blend with what lay beneath; its shadows go behind them.
  const PsdRect area = Intersect(whole.rect, dest.rect);
  const Canvas<T> backdrop = CopyOfArea(dest, area);
  LayWithEffects(style, how, whole, mask, dest, true);
  const Canvas<T> shadowed = CopyOfArea(dest, area);
  const Canvas<T> shape = CopyOfArea(whole, area);
  whole = {};
  CopyArea(backdrop, area, dest);
  // Its effects inside and over it are not drawn.
  bool leftOut = false;
  for (const PlacedEffect& effect : style.effects) {
    if (effect.kind->place == EffectPlace::Below) continue;
    AddOnce(result_.effectsNotDrawn, effect.kind->name);
    leftOut = true;
  }
  if (leftOut && !style.leftOut) ++result_.effectsSkipped;
  if (!DrawPassThrough(node, how.opacity * how.fillOpacity, dest)) return false;
  LayBehind(backdrop, shadowed, shape, how.opacity, dest);
  return true;
}

// A layer's rows come from its stored channels, or from the planes of a fill
// drawn from its settings; either way its overlays are painted on them.
template <typename T>
bool NodeDrawer<T>::OpenLayerRows(const PsdLayer& layer, std::unique_ptr<FillPainter> fill, const LayerStyle& style,
                                  LayerRows& rows) {
  if (fill) {
    rows.OpenFill(std::move(fill), channels_, header_.depth);
  } else if (!rows.Open(file_, layer, channels_, header_.depth, header_.version)) {
    return Damaged(layer);
  }
  if (!style.overlays.empty()) rows.PaintOverlays(style, picture_, layer.fillOpacity / 255.0f);
  return true;
}

// A group is drawn on a canvas over the part of `within` its layers can
// change; a layer over the part of the picture it covers.
template <typename T>
bool NodeDrawer<T>::MakeWhole(const LayerNode& node, std::unique_ptr<FillPainter> fill, const LayerStyle& style,
                              const PsdRect& within, Canvas<T>& whole, int grow) {
  if (node.group) {
    whole = Canvas<T>(Intersect(Grown(OwnBounds(node), grow), within), channels_);
    if (IsArtboard(node)) PaintArtboardBackground(node.layer->artboard, whole);
    const KnockoutScope scope(groupStop_, isolated_, true);
    return Draw(node.children, whole);
  }
  const PsdLayer& layer = *node.layer;
  LayerRows rows(picture_.Width());
  if (!OpenLayerRows(layer, std::move(fill), style, rows)) return false;
  whole = Canvas<T>(Intersect(Grown(rows.Rect(), grow), picture_), channels_);
  const PsdRect own = Intersect(rows.Rect(), whole.rect);
  const auto width = static_cast<std::size_t>(own.Width());
  std::vector<float> colour(width * channels_);
  std::vector<float> alpha(width);
  for (std::int64_t y = own.top; y < own.bottom; ++y) {
    if (!rows.Row(y, own.left, own.right, colour.data(), alpha.data())) return Damaged(layer);
    whole.StoreRow(y, own.left, width, colour.data(), alpha.data());
  }
  ++result_.layersDrawn;
  return true;
}

// An 8-bit layer's colour goes from its channels to the canvas without
// floats where it covers fully.
template <typename T>
bool NodeDrawer<T>::Lay(const LayerNode& node, LayerRows* rows, const Canvas<T>* whole, BlendMode mode,
                        float opacity, Canvas<T>& dest) {
  const PsdLayer& layer = *node.layer;
  const PsdRect area = Intersect(whole != nullptr ? whole->rect : rows->Rect(), dest.rect);
  const auto width = static_cast<std::size_t>(area.Width());
  if (width == 0) return true;
  const std::vector<float> vector = VectorMaskCoverage(node, area);
  const Canvas<T>* stop = nullptr;
  const bool knockout = KnockoutStop(node, area, stop);
  const bool blendIf = BlendIfCuts(layer);
  // Knockout and blend-if read the layer's colour as fractions.
  const bool fromBytes = std::is_same_v<T, std::uint8_t> && whole == nullptr && !knockout && !blendIf;
  const float layerOpacity = layer.opacity / 255.0f;
  std::vector<float> colour(width * channels_);
  std::vector<float> coverage(width);
  std::vector<float> beneath(blendIf ? width * channels_ : 0), beneathAlpha(blendIf ? width : 0);
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    if (whole != nullptr) {
      whole->LoadRow(y, area.left, width, colour.data(), coverage.data());
    } else if (!(fromBytes ? rows->Advance(y) : rows->Row(y, area.left, area.right, colour.data(), coverage.data()))) {
      return Damaged(layer);
    } else if (fromBytes) {
      rows->Alpha(area.left, area.right, coverage.data());
    }
    if (!CutCoverage(layer, vector, area, y, knockout ? 1.0f : opacity, coverage)) return false;
    if (blendIf) {
      dest.LoadRow(y, area.left, width, beneath.data(), beneathAlpha.data());
      CutByBlendIf(layer, header_.colourMode, channels_, colour.data(), beneath.data(), coverage);
    }
    if (mode == BlendMode::Dissolve) DissolveCoverage(y, area.left, coverage);
    if (knockout) {
      KnockOutRow(mode, space_, stop, dest, y, area.left, width, colour.data(), coverage.data(),
                  opacity / layerOpacity, layerOpacity);
      continue;
    }
    if constexpr (std::is_same_v<T, std::uint8_t>) {
      if (fromBytes) {
        ChannelBytes bytes{};
        for (int c = 0; c < channels_; ++c) bytes.rows[c] = rows->Bytes(c, area.left);
        BlendRow(mode, space_, dest, y, area.left, width, bytes, coverage.data());
        continue;
      }
    }
    BlendRow(mode, space_, dest, y, area.left, width, colour.data(), coverage.data());
  }
  return true;
}

// Whether the node knocks out over `area`, and to which stop (null: to
// transparency). A clipped layer or a group draws as any other.
template <typename T>
bool NodeDrawer<T>::KnockoutStop(const LayerNode& node, const PsdRect& area, const Canvas<T>*& stop) {
  const PsdLayer& layer = *node.layer;
  if (node.group || layer.knockout == 0 || layer.clipping || layer.opacity == 0) return false;
  if (layer.knockout == kShallowKnockout && groupStop_ != nullptr) {
    stop = groupStop_;
  } else if (!isolated_ && !top_->empty() && IsBackgroundLayer(top_->front())) {
    if (!backgroundStop_) {
      // The background layer alone, drawn again; not counted twice.
      const int drawn = result_.layersDrawn;
      DrawNode(top_->front(), {}, backgroundStop_.emplace(picture_, channels_));
      result_.layersDrawn = drawn;
    }
    stop = &*backgroundStop_;
  }
  return stop == nullptr || Contains(stop->rect, area);
}

// The layer's vector mask over `area`, or nothing: a fill or shape layer's
// pixels already have the shape, and a group's mask is not drawn.
template <typename T>
std::vector<float> NodeDrawer<T>::VectorMaskCoverage(const LayerNode& node, const PsdRect& area) const {
  if (!VectorMaskCutsPixels(*node.layer) || node.group) return {};
  return RasteriseVectorMask(node.layer->vectorMask, area);
}

// Cuts row y of `area`'s coverage by the layer's raster mask, its vector mask
// (`vector`: rows of `area`, or empty) and its opacity.
template <typename T>
bool NodeDrawer<T>::CutCoverage(const PsdLayer& layer, const std::vector<float>& vector, const PsdRect& area,
                                std::int64_t y, float opacity, std::vector<float>& coverage) {
  if (!masks_.Apply(layer, y, area.left, coverage)) return MaskDamaged(layer);
  const std::size_t width = coverage.size();
  if (!vector.empty()) {
    const float* cut = vector.data() + static_cast<std::uint64_t>(y - area.top) * width;
    for (std::size_t x = 0; x < width; ++x) coverage[x] *= opacity * cut[x];
  } else if (opacity < 1) {
    for (std::size_t x = 0; x < width; ++x) coverage[x] *= opacity;
  }
  return true;
}

// A clipped layer draws on its base's colour only where the base has pixels:
// the base's alpha stays as it was.
template <typename T>
bool NodeDrawer<T>::DrawClipped(const LayerNode& node, Canvas<T>& base) {
  std::vector<T> alpha = base.alpha;
  if (!DrawNode(node, {}, base)) return false;
  base.alpha = std::move(alpha);
  return true;
}

// Each clipped layer is drawn on a copy of what lies beneath the base, then
// faded in by the base's shape: its pixels cut by its masks and opacity,
// without its fill opacity or effects.
template <typename T>
bool NodeDrawer<T>::DrawClippedApart(const LayerNode& base, std::span<const LayerNode> clipped, Canvas<T>& dest) {
  const PsdLayer& layer = *base.layer;
  FillReading fill;
  if (DrawnFromSettings(base)) fill = ReadFillLayer(file_, layer, header_, colours_, patterns_);
  const int drawn = result_.layersDrawn;
  Canvas<T> shape;
  if (!MakeWhole(base, std::move(fill.painter), LayerStyle{}, dest.rect, shape)) return false;
  result_.layersDrawn = drawn;
  const PsdRect area = shape.rect;
  if (area.Width() == 0 || area.Height() == 0) return true;
  const std::vector<float> vector = VectorMaskCoverage(base, area);
  const auto width = static_cast<std::size_t>(area.Width());
  std::vector<float> colour(width * channels_);
  const auto cut = [&](std::int64_t y, std::vector<float>& fade) {
    shape.LoadRow(y, area.left, width, colour.data(), fade.data());
    return CutCoverage(layer, vector, area, y, layer.opacity / 255.0f, fade);
  };
  for (const LayerNode& top : clipped) {
    Canvas<T> work = CopyOfArea(dest, area);
    if (!DrawNode(top, {}, work) || !Fade(dest, work, area, channels_, cut, dest)) return false;
  }
  return true;
}

// An artboard's background colour under its rectangle (none when transparent).
template <typename T>
void NodeDrawer<T>::PaintArtboardBackground(const PsdArtboard& artboard, Canvas<T>& canvas) const {
  float sample[4] = {0, 0, 0, 0};
  if (artboard.background == PsdArtboard::Background::Transparent) return;
  if (artboard.background == PsdArtboard::Background::Colour) {
    if (!colours_.Read(artboard.colour, sample)) return;
  } else {
    colours_.Neutral(artboard.background == PsdArtboard::Background::White, sample);
  }
  const PsdRect area = Intersect(artboard.rect, canvas.rect);
  const auto width = static_cast<std::size_t>(area.Width());
  std::vector<float> colour(width * channels_), alpha(width, 1.0f);
  for (std::size_t x = 0; x < width; ++x) std::copy_n(sample, channels_, colour.begin() + x * channels_);
  for (std::int64_t y = area.top; y < area.bottom; ++y) canvas.StoreRow(y, area.left, width, colour.data(), alpha.data());
}

// The adjusted colour is laid over the colour beneath in the layer's mode, by
// its masks, opacity and fill; the alpha beneath stays as it was.
template <typename T>
bool NodeDrawer<T>::Adjust(const LayerNode& node, const ColourAdjustment& adjustment, Canvas<T>& dest) {
  const PsdLayer& layer = *node.layer;
  const PsdRect area = dest.rect;
  const auto width = static_cast<std::size_t>(area.Width());
  if (width == 0) return true;
  const int n = channels_;
  const BlendMode mode = BlendModeFromKey(layer.blendMode);
  const float opacity = layer.opacity / 255.0f * (layer.fillOpacity / 255.0f);
  const std::vector<float> vector = VectorMaskCoverage(node, area);
  const bool blendIf = BlendIfCuts(layer);
  std::vector<float> colour(width * n), alpha(width), adjusted(width * n), coverage(width), backdropAlpha(width);
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    dest.LoadRow(y, area.left, width, colour.data(), alpha.data());
    if (std::none_of(alpha.begin(), alpha.end(), [](float a) { return a > 0; })) continue;
    adjusted = colour;
    adjustment.Apply(adjusted.data(), width);
    coverage.assign(width, 1.0f);
    if (!CutCoverage(layer, vector, area, y, opacity, coverage)) return false;
    // Blend-if weighs the adjusted colour against the colour it was.
    if (blendIf) CutByBlendIf(layer, header_.colourMode, n, adjusted.data(), colour.data(), coverage);
    // Blended as over an opaque backdrop, so that only the colour moves.
    backdropAlpha.assign(width, 1.0f);
    BlendPixels(mode, n, colour.data(), backdropAlpha.data(), adjusted.data(), coverage.data(), width, space_);
    dest.StoreRow(y, area.left, width, colour.data(), alpha.data());
  }
  ++result_.layersDrawn;
  return true;
}

// The group's opacity, mask and blend-if ranges fade between what its
// layers made and what was there before, over the part of the canvas they
// can change.
template <typename T>
bool NodeDrawer<T>::DrawPassThrough(const LayerNode& node, float opacity, Canvas<T>& dest) {
  const PsdLayer& layer = *node.layer;
  const bool blendIf = BlendIfCuts(layer);
  if (opacity >= 1 && !LayerMaskCoverage::Masks(layer) && !blendIf) return Draw(node.children, dest);
  const PsdRect region = Intersect(Bounds(node), dest.rect);
  const Canvas<T> before = CopyOfArea(dest, region);
  if (!Draw(node.children, dest)) return false;
  const auto width = static_cast<std::size_t>(region.Width());
  std::vector<float> made(blendIf ? width * channels_ : 0), was(made.size()), alpha(blendIf ? width : 0);
  const auto fade = [&](std::int64_t y, std::vector<float>& row) {
    row.assign(row.size(), opacity);
    if (blendIf) {
      dest.LoadRow(y, region.left, width, made.data(), alpha.data());
      before.LoadRow(y, region.left, width, was.data(), alpha.data());
      CutByBlendIf(layer, header_.colourMode, channels_, made.data(), was.data(), row);
    }
    return masks_.Apply(layer, y, region.left, row) || MaskDamaged(layer);
  };
  return Fade(before, dest, region, channels_, fade, dest);
}

template <typename T>
PsdRect NodeDrawer<T>::Bounds(const LayerNode& node) const {
  return NodeBounds(node, picture_, [this](const PsdLayer& layer) { return ReachOf(layer); });
}

template <typename T>
PsdRect NodeDrawer<T>::OwnBounds(const LayerNode& node) const {
  return NodeOwnBounds(node, picture_, [this](const PsdLayer& layer) { return ReachOf(layer); });
}

// A layer's style is read once for its reach, however often the boxes of
// the groups around it are asked for.
template <typename T>
int NodeDrawer<T>::ReachOf(const PsdLayer& layer) const {
  if (!layer.hasEffects && !layer.otherStyle.Present()) return 0;
  const auto [at, added] = reach_.try_emplace(&layer, 0);
  if (added) at->second = ReadLayerStyle(file_, layer, effects_).Reach();
  return at->second;
}

template <typename T>
bool NodeDrawer<T>::Damaged(const PsdLayer& layer) {
  result_.problem = "the pixels of layer \"" + layer.name + "\" are damaged";
  return false;
}

template <typename T>
bool NodeDrawer<T>::MaskDamaged(const PsdLayer& layer) {
  result_.problem = "the mask of layer \"" + layer.name + "\" is damaged";
  return false;
}

template class NodeDrawer<std::uint8_t>;
template class NodeDrawer<std::uint16_t>;
template class NodeDrawer<float>;

}  // namespace kestrel
