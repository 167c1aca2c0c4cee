#include "engine/composite/compositor.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/composite/blend_modes.h"
#include "engine/composite/fill_layers.h"
#include "engine/psd/channels.h"
#include "engine/composite/stored_colour_display.h"
#include "engine/composite/layer_effects.h"
#include "engine/composite/plane_samples.h"
#include "engine/psd/document.h"
#include "engine/composite/vector_mask.h"

namespace kestrel {
namespace {

// Groups nest no deeper than this; deeper markers are taken as plain layers.
constexpr std::size_t kMaxGroupDepth = 64;

// Pixels over a rectangle of the canvas: straight colour, interleaved, and
// alpha in a plane of its own. 8- and 16-bit files keep samples of their own
// depth, as Photoshop does between layers; 32-bit files floats. The canvas of
// a grey or RGB file keeps its colour in the picture handed over at the end,
// in that bitmap's channel order, so that no second copy of it is ever made.
template <typename T>
struct Pixels {
  PsdRect rect;
  int channels = 0;
  std::vector<T> colour;  // empty when the colour lives in `bitmap`
  std::vector<T> alpha;
  ImagePtr bitmap;
  int order[4] = {0, 1, 2, 3};  // where colour channel c lies within a pixel

  Pixels() = default;
  Pixels(const PsdRect& r, int c)
      : rect(r), channels(c), colour(Count() * static_cast<std::size_t>(c), T{}), alpha(Count(), T{}) {}
  std::size_t Count() const { return static_cast<std::size_t>(rect.Width() * rect.Height()); }
  std::uint64_t Index(std::int64_t x, std::int64_t y) const {
    return static_cast<std::uint64_t>((y - rect.top) * rect.Width() + (x - rect.left));
  }
  T* ColourAt(std::int64_t x, std::int64_t y) {
    if (bitmap) {
      const auto row = static_cast<int>(rect.Height() - 1 - (y - rect.top));
      return reinterpret_cast<T*>(FreeImage_GetScanLine(bitmap.get(), row)) + (x - rect.left) * channels;
    }
    return colour.data() + Index(x, y) * static_cast<std::uint64_t>(channels);
  }
  const T* ColourAt(std::int64_t x, std::int64_t y) const { return const_cast<Pixels*>(this)->ColourAt(x, y); }
};

inline float ToFloat(std::uint8_t v) { return v * (1.0f / 255); }
inline float ToFloat(std::uint16_t v) { return v * (1.0f / 65535); }
inline float ToFloat(float v) { return v; }
inline void FromFloat(float v, std::uint16_t& out) {
  out = static_cast<std::uint16_t>(std::clamp(v, 0.0f, 1.0f) * 65535 + 0.5f);
}
inline void FromFloat(float v, std::uint8_t& out) {
  out = static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f);
}
inline void FromFloat(float v, float& out) { out = v; }

// Row y, columns [left, left + count) of `p` as floats, and back; N is the
// number of colour channels, fixed so that the loops unroll.
template <int N, typename T>
void LoadRowOf(const Pixels<T>& p, std::int64_t y, std::int64_t left, std::size_t count, float* colour, float* alpha) {
  const T* c = p.ColourAt(left, y);
  const T* a = p.alpha.data() + p.Index(left, y);
  int order[N];
  for (int k = 0; k < N; ++k) order[k] = p.order[k];
  for (std::size_t x = 0; x < count; ++x) {
    for (int k = 0; k < N; ++k) colour[x * N + k] = ToFloat(c[x * N + order[k]]);
    alpha[x] = ToFloat(a[x]);
  }
}

template <int N, typename T>
void StoreRowOf(Pixels<T>& p, std::int64_t y, std::int64_t left, std::size_t count, const float* colour,
                const float* __restrict alpha) {
  T* __restrict c = p.ColourAt(left, y);
  T* __restrict a = p.alpha.data() + p.Index(left, y);
  int order[N];
  for (int k = 0; k < N; ++k) order[k] = p.order[k];
  for (std::size_t x = 0; x < count; ++x) {
    for (int k = 0; k < N; ++k) FromFloat(colour[x * N + k], c[x * N + order[k]]);
    FromFloat(alpha[x], a[x]);
  }
}

// Pixels blended together at most: their floats stay on the stack.
constexpr std::size_t kBlendChunk = 256;

// A row of source colour: floats, N to a pixel.
struct FloatSource {
  const float* colour;
  float Get(std::size_t x, int k, int n) const { return colour[x * n + k]; }
};

// A row of 8-bit source colour straight from a layer's channels, one row of
// bytes per channel.
struct ByteSource {
  const std::uint8_t* rows[4];
  float Get(std::size_t x, int k, int) const { return rows[k][x] * (1.0f / 255); }
};

// Lays a row of source pixels over row y of `p` from column `left`: pixels
// the source does not cover are left alone, and an opaque source in a plain
// mode is written as it is; the rest is blended pixel by pixel.
template <int N, typename T, typename Source>
void BlendRowOf(BlendMode mode, BlendSpace space, Pixels<T>& p, std::int64_t y, std::int64_t left, std::size_t count,
                const Source& source, const float* __restrict coverage) {
  T* __restrict c = p.ColourAt(left, y);
  T* __restrict a = p.alpha.data() + p.Index(left, y);
  int order[N];
  for (int k = 0; k < N; ++k) order[k] = p.order[k];
  const bool plain = mode == BlendMode::Normal || mode == BlendMode::Dissolve || mode == BlendMode::PassThrough;
  std::size_t x = 0;
  while (x < count) {
    // A run of fully covered pixels in a plain mode: the source's own colour.
    if (plain) {
      std::size_t end = x;
      // Eight at a time first, which the compiler can do in one vector compare.
      while (end + 8 <= count) {
        bool full = true;
        for (std::size_t j = 0; j < 8; ++j) full &= coverage[end + j] >= 1;
        if (!full) break;
        end += 8;
      }
      while (end < count && coverage[end] >= 1) ++end;
      if constexpr (std::is_same_v<Source, ByteSource> && std::is_same_v<T, std::uint8_t>) {
        for (int k = 0; k < N; ++k) {
          const std::uint8_t* __restrict from = source.rows[k];
          T* __restrict to = c + order[k];
          for (std::size_t i = x; i < end; ++i) to[i * N] = from[i];
        }
      } else {
        for (std::size_t i = x; i < end; ++i) {
          for (int k = 0; k < N; ++k) FromFloat(source.Get(i, k, N), c[i * N + order[k]]);
        }
      }
      for (std::size_t i = x; i < end; ++i) FromFloat(1.0f, a[i]);
      if (end > x) {
        x = end;
        continue;
      }
    }
    if (!(coverage[x] > 0)) {
      ++x;
      continue;
    }
    // A run of pixels to blend: gathered as floats, blended together, put back.
    float colour[kBlendChunk * N];
    float backdrop[kBlendChunk * N];
    float backdropAlpha[kBlendChunk];
    std::size_t end = x;
    while (end < count && end - x < kBlendChunk && coverage[end] > 0 && !(plain && coverage[end] >= 1)) ++end;
    const std::size_t run = end - x;
    for (std::size_t i = 0; i < run; ++i) {
      const T* pixel = c + (x + i) * N;
      for (int k = 0; k < N; ++k) {
        colour[i * N + k] = source.Get(x + i, k, N);
        backdrop[i * N + k] = ToFloat(pixel[order[k]]);
      }
      backdropAlpha[i] = ToFloat(a[x + i]);
    }
    BlendPixels(mode, N, backdrop, backdropAlpha, colour, coverage + x, run, space);
    for (std::size_t i = 0; i < run; ++i) {
      T* pixel = c + (x + i) * N;
      for (int k = 0; k < N; ++k) FromFloat(backdrop[i * N + k], pixel[order[k]]);
      FromFloat(backdropAlpha[i], a[x + i]);
    }
    x = end;
  }
}

template <typename T>
void LoadRow(const Pixels<T>& p, std::int64_t y, std::int64_t left, std::size_t count, float* colour, float* alpha) {
  switch (p.channels) {
    case 1: return LoadRowOf<1>(p, y, left, count, colour, alpha);
    case 3: return LoadRowOf<3>(p, y, left, count, colour, alpha);
    default: return LoadRowOf<4>(p, y, left, count, colour, alpha);
  }
}

template <typename T>
void StoreRow(Pixels<T>& p, std::int64_t y, std::int64_t left, std::size_t count, const float* colour,
              const float* alpha) {
  switch (p.channels) {
    case 1: return StoreRowOf<1>(p, y, left, count, colour, alpha);
    case 3: return StoreRowOf<3>(p, y, left, count, colour, alpha);
    default: return StoreRowOf<4>(p, y, left, count, colour, alpha);
  }
}

template <typename T, typename Source>
void BlendRow(BlendMode mode, BlendSpace space, Pixels<T>& p, std::int64_t y, std::int64_t left, std::size_t count,
              const Source& source, const float* coverage) {
  switch (p.channels) {
    case 1: return BlendRowOf<1>(mode, space, p, y, left, count, source, coverage);
    case 3: return BlendRowOf<3>(mode, space, p, y, left, count, source, coverage);
    default: return BlendRowOf<4>(mode, space, p, y, left, count, source, coverage);
  }
}

PsdRect Intersect(const PsdRect& a, const PsdRect& b) {
  PsdRect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
            std::min(a.right, b.right)};
  if (r.Width() == 0 || r.Height() == 0) return PsdRect{};
  return r;
}

PsdRect Union(const PsdRect& a, const PsdRect& b) {
  if (a.Width() == 0 || a.Height() == 0) return b;
  if (b.Width() == 0 || b.Height() == 0) return a;
  return PsdRect{std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
                 std::max(a.right, b.right)};
}

// A fill layer may store nothing but its settings: a rectangle with empty channels.
bool HasStoredPixels(const PsdLayer& layer) {
  if (layer.rect.Width() == 0 || layer.rect.Height() == 0) return false;
  return std::none_of(layer.channels.begin(), layer.channels.end(),
                      [](const PsdLayerChannel& c) { return c.id >= kLayerTransparency && c.length <= 2; });
}

struct Node {
  const PsdLayer* layer = nullptr;
  bool group = false;
  std::vector<Node> children;
};

std::vector<Node> BuildTree(const std::vector<PsdLayer>& layers) {
  std::vector<std::vector<Node>> open(1);
  for (const PsdLayer& layer : layers) {
    if (layer.section == PsdSection::GroupEnd && open.size() < kMaxGroupDepth) {
      open.emplace_back();
    } else if (layer.section == PsdSection::OpenFolder || layer.section == PsdSection::ClosedFolder) {
      Node group{&layer, true, {}};
      if (open.size() > 1) {
        group.children = std::move(open.back());
        open.pop_back();
      }
      open.back().push_back(std::move(group));
    } else if (layer.section != PsdSection::GroupEnd) {
      open.back().push_back(Node{&layer, false, {}});
    }
  }
  // Groups left open by a damaged file give their layers to the group around them.
  while (open.size() > 1) {
    std::vector<Node> inner = std::move(open.back());
    open.pop_back();
    for (Node& node : inner) open.back().push_back(std::move(node));
  }
  return std::move(open.front());
}

inline float Sample16(const std::uint8_t* data, std::uint64_t index) {
  return (data[2 * index] << 8 | data[2 * index + 1]) * (1.0f / 65535);
}

// A layer's channels read a row at a time as the layer is drawn, top to
// bottom: transparency first, then each colour channel; a missing one reads
// as 0 (colour) or 1 (transparency). Only the current row of each is held.
class LayerRows {
 public:
  // No row read is wider than `widest` columns (the canvas).
  explicit LayerRows(std::int64_t widest) : widest_(widest) {}

  // False when a channel's data cannot be that of the layer's bounds.
  bool Open(std::span<const std::uint8_t> file, const PsdLayer& layer, int channels, int depth, int version) {
    Reset(layer.rect, channels, depth);
    for (const PsdLayerChannel& channel : layer.channels) {
      if (channel.id >= channels || channel.id < kLayerTransparency) continue;
      const auto slot = static_cast<std::size_t>(channel.id + 1);
      if (channel.offset + channel.length > file.size() || channel.length < 2) return false;
      const std::uint8_t* at = file.data() + channel.offset;
      if (!readers_[slot].Open(std::span(at + 2, channel.length - 2), at[0] << 8 | at[1],
                               static_cast<std::uint32_t>(rect_.Height()), static_cast<std::uint32_t>(rect_.Width()),
                               depth, version)) {
        return false;
      }
      rows_[slot].resize(readers_[slot].RowBytes());
      stored_[slot] = true;
    }
    return true;
  }

  // Paints the layer's overlays on each row as it becomes the current one.
  // Every channel then has a row: a missing colour channel's starts as
  // zeros, missing transparency as opaque.
  void PaintRows(const LayerStyle& style, const PsdRect& canvas, float fillOpacity) {
    painter_.emplace(style, rect_, canvas, depth_, channels_, fillOpacity);
    const auto rowBytes = static_cast<std::size_t>(ChannelRowBytes(static_cast<std::uint32_t>(rect_.Width()), depth_));
    for (std::size_t slot = 0; slot < rows_.size(); ++slot) {
      if (!stored_[slot]) rows_[slot].assign(rowBytes, 0);
      rowPointers_.push_back(rows_[slot].data());
    }
  }

  // The same over whole planes already unpacked (transparency, then each
  // colour channel) covering `rect`; an empty plane is a missing channel.
  bool OpenPlanes(const PsdRect& rect, std::vector<std::vector<std::uint8_t>> planes, int channels, int depth) {
    Reset(rect, channels, depth);
    planes_ = std::move(planes);
    for (std::size_t slot = 0; slot < planes_.size() && slot < readers_.size(); ++slot) {
      if (planes_[slot].empty()) continue;
      if (!readers_[slot].Open(planes_[slot], 0, static_cast<std::uint32_t>(rect_.Height()),
                               static_cast<std::uint32_t>(rect_.Width()), depth, 1)) {
        return false;
      }
      rows_[slot].resize(readers_[slot].RowBytes());
      stored_[slot] = true;
    }
    return true;
  }

  const PsdRect& Rect() const { return rect_; }

  // Row y, columns [left, right) of the canvas, which lie within the layer;
  // y never goes back. False when the data is damaged on the way there.
  bool Row(std::int64_t y, std::int64_t left, std::int64_t right, float* colour, float* alpha) {
    if (!Advance(y)) return false;
    Alpha(left, right, alpha);
    for (int slot = 1; slot <= channels_; ++slot) Colour(slot, left, right, colour);
    return true;
  }

  // Makes row y the current row.
  bool Advance(std::int64_t y) {
    while (next_ <= y - rect_.top) {
      for (std::size_t slot = 0; slot < readers_.size(); ++slot) {
        if (stored_[slot] && !readers_[slot].Next(rows_[slot].data())) return false;
      }
      // Rows passed over are never shown: only the current one is painted.
      if (painter_ && next_ == y - rect_.top) {
        for (std::size_t slot = 0; slot < rows_.size(); ++slot) {
          if (!stored_[slot]) FillPlane(rows_[slot].data(), static_cast<std::uint64_t>(rect_.Width()), depth_, slot == 0 ? 1.0f : 0.0f);
        }
        painter_->PaintRow(y, rowPointers_.data());
      }
      ++next_;
    }
    return true;
  }

  // The current row's transparency as coverage.
  void Alpha(std::int64_t left, std::int64_t right, float* alpha) const {
    const auto start = static_cast<std::uint64_t>(left - rect_.left);
    const auto count = static_cast<std::size_t>(right - left);
    const std::uint8_t* bytes = HasRow(0) ? rows_[0].data() + (depth_ == 8 ? start : 0) : nullptr;
    if (bytes == nullptr) std::fill_n(alpha, count, 1.0f);
    else if (depth_ == 8) for (std::size_t x = 0; x < count; ++x) alpha[x] = bytes[x] * (1.0f / 255);
    else if (depth_ == 16) for (std::size_t x = 0; x < count; ++x) alpha[x] = Sample16(bytes, start + x);
    else for (std::size_t x = 0; x < count; ++x) alpha[x] = std::clamp(ReadPlaneSample(bytes, start + x, depth_), 0.0f, 1.0f);
  }

  // The current row's 8-bit samples of colour channel c from canvas column
  // `left` (zeros when the layer has no such channel).
  const std::uint8_t* Bytes(int c, std::int64_t left) const {
    const auto slot = static_cast<std::size_t>(c + 1);
    return HasRow(slot) ? rows_[slot].data() + (left - rect_.left) : zeros_.data();
  }

 private:
  // Whether the channel has a current row: one the layer stores, or one the overlays paint.
  bool HasRow(std::size_t slot) const { return stored_[slot] || painter_.has_value(); }

  void Reset(const PsdRect& rect, int channels, int depth) {
    rect_ = rect;
    depth_ = depth;
    channels_ = channels;
    next_ = 0;
    planes_.clear();
    readers_.clear();
    readers_.resize(static_cast<std::size_t>(channels + 1));
    stored_.assign(static_cast<std::size_t>(channels + 1), false);
    painter_.reset();
    rowPointers_.clear();
    rows_.resize(static_cast<std::size_t>(channels + 1));
    // A layer's bounds come from the file and may be far wider than anything read.
    const auto columns = static_cast<std::uint32_t>(std::clamp<std::int64_t>(widest_, 0, rect_.Width()));
    zeros_.assign(static_cast<std::size_t>(ChannelRowBytes(columns, depth)), 0);
  }

  void Colour(int slot, std::int64_t left, std::int64_t right, float* colour) const {
    const auto start = static_cast<std::uint64_t>(left - rect_.left);
    const auto count = static_cast<std::size_t>(right - left);
    const int n = channels_;
    const bool have = HasRow(static_cast<std::size_t>(slot));
    const std::uint8_t* bytes = have ? rows_[static_cast<std::size_t>(slot)].data() : nullptr;
    if (!have) {
      for (std::size_t x = 0; x < count; ++x) colour[x * n + slot - 1] = 0.0f;
    } else if (depth_ == 8) {
      for (std::size_t x = 0; x < count; ++x) colour[x * n + slot - 1] = bytes[start + x] * (1.0f / 255);
    } else if (depth_ == 16) {
      for (std::size_t x = 0; x < count; ++x) colour[x * n + slot - 1] = Sample16(bytes, start + x);
    } else {
      for (std::size_t x = 0; x < count; ++x) colour[x * n + slot - 1] = ReadPlaneSample(bytes, start + x, depth_);
    }
  }

 private:
  std::int64_t widest_;
  PsdRect rect_;
  int depth_ = 8;
  int channels_ = 0;
  std::int64_t next_ = 0;  // rows of the layer read so far
  std::vector<std::vector<std::uint8_t>> planes_;  // whole planes the readers read, when opened over them
  std::vector<LayerChannelReader> readers_;
  std::vector<std::vector<std::uint8_t>> rows_;
  std::vector<std::uint8_t> zeros_;  // the row of a missing channel
  std::vector<bool> stored_;          // the channel has data the layer stores (or a plane)
  std::optional<OverlayPainter> painter_;
  std::vector<std::uint8_t*> rowPointers_;  // the current rows, for the painter
};

template <typename T>
class Compositor {
 public:
  Compositor(const PsdDocument& document, int channels, LayerComposite& result)
      : file_(document.file), header_(document.header), channels_(channels), result_(result),
        colours_(header_.colourMode, header_.depth, document.resources.iccProfile),
        space_(BlendSpaceOf(header_.colourMode, header_.depth)) {
    canvas_.right = static_cast<std::int32_t>(header_.width);
    canvas_.bottom = static_cast<std::int32_t>(header_.height);
  }

  const PsdRect& Canvas() const { return canvas_; }

  // Draws nodes, bottom to top, onto dest.
  bool Draw(const std::vector<Node>& nodes, Pixels<T>& dest) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const Node& node = nodes[i];
      // The layers clipped to this one follow it.
      std::size_t clippedEnd = i + 1;
      while (clippedEnd < nodes.size() && nodes[clippedEnd].layer->clipping && !node.layer->clipping) ++clippedEnd;
      const std::span<const Node> clipped(nodes.data() + i + 1, clippedEnd - i - 1);
      const std::size_t next = clippedEnd;
      if (!DrawNode(node, clipped, dest)) return false;
      i = next - 1;
    }
    return true;
  }

 private:
  // The part of the canvas a node can change: nothing outside it needs a
  // group's own canvas or a copy of what lay beneath.
  PsdRect Bounds(const Node& node) const {
    const PsdLayer& layer = *node.layer;
    if (node.group) {
      PsdRect all;
      for (const Node& child : node.children) all = Union(all, Bounds(child));
      return all;
    }
    if (layer.isFill && !HasStoredPixels(layer)) return FillLayerBounds(layer, canvas_);
    return Intersect(layer.rect, canvas_);
  }

  bool DrawNode(const Node& node, std::span<const Node> clipped, Pixels<T>& dest) {
    const PsdLayer& layer = *node.layer;
    if (layer.hidden) return true;
    if (layer.isAdjustment) {
      ++result_.adjustmentsSkipped;
      return true;
    }
    // A fill layer without pixels is drawn from its settings, and overlays
    // repaint a layer's pixels: both before the compositor sees them.
    std::optional<FillPixels> fill;
    if (layer.isFill && !node.group && !HasStoredPixels(layer)) {
      fill = DrawFillLayer(file_, layer, header_, colours_);
      if (!fill) {
        ++result_.adjustmentsSkipped;
        return true;
      }
    }
    LayerStyle style = ReadLayerStyle(file_, layer, colours_);
    if (node.group && !style.overlays.empty()) style = LayerStyle{{}, true};
    if (style.leftOut) ++result_.effectsSkipped;
    const BlendMode mode = BlendModeFromKey(layer.blendMode);
    // A layer with overlays has its fill opacity in its pixels already.
    const float fillOpacity = style.overlays.empty() ? layer.fillOpacity / 255.0f : 1.0f;
    const float opacity = layer.opacity / 255.0f * fillOpacity;
    if (node.group && mode == BlendMode::PassThrough && clipped.empty()) return DrawPassThrough(node, opacity, dest);
    // A plain layer is read row by row as it is drawn; a group, a fill, or a
    // layer with others clipped to it is made whole first.
    const int n = channels_;
    Pixels<T> source;
    LayerRows rows(canvas_.Width());
    PsdRect sourceRect;
    const bool streamed = !node.group && clipped.empty();
    if (streamed) {
      if (!OpenLayerRows(layer, std::move(fill), style, rows)) return false;
      sourceRect = Intersect(rows.Rect(), canvas_);
      ++result_.layersDrawn;
    } else {
      if (node.group) {
        source = Pixels<T>(Intersect(Bounds(node), dest.rect), n);
        if (!Draw(node.children, source)) return false;
      } else {
        if (!OpenLayerRows(layer, std::move(fill), style, rows)) return false;
        source = Pixels<T>(Intersect(rows.Rect(), canvas_), n);
        const auto width = static_cast<std::size_t>(source.rect.Width());
        std::vector<float> colour(width * n);
        std::vector<float> alpha(width);
        for (std::int64_t y = source.rect.top; y < source.rect.bottom; ++y) {
          if (!ReadRow(layer, rows, y, source.rect.left, source.rect.right, colour.data(), alpha.data())) return false;
          StoreRow(source, y, source.rect.left, width, colour.data(), alpha.data());
        }
        ++result_.layersDrawn;
      }
      for (const Node& top : clipped) {
        if (!DrawClipped(top, source)) return false;
      }
      sourceRect = source.rect;
    }
    const PsdRect area = Intersect(sourceRect, dest.rect);
    const auto width = static_cast<std::size_t>(area.Width());
    if (width == 0) return true;
    // A fill layer's stored pixels already have its shape; other layers are cut by their vector mask.
    std::vector<float> vector;
    if (layer.hasVectorMask && !layer.vectorMask.disabled && !layer.isFill && !node.group) {
      vector = RasteriseVectorMask(layer.vectorMask, area);
    }
    // An 8-bit layer's colour goes from its channels to the canvas without floats where it covers fully.
    const bool bytes = header_.depth == 8 && n <= 4;
    std::vector<float> colour(width * n);
    std::vector<float> coverage(width);
    for (std::int64_t y = area.top; y < area.bottom; ++y) {
      if (streamed && bytes) {
        if (!rows.Advance(y)) return Damaged(layer);
        rows.Alpha(area.left, area.right, coverage.data());
      } else if (streamed) {
        if (!ReadRow(layer, rows, y, area.left, area.right, colour.data(), coverage.data())) return false;
      } else {
        LoadRow(source, y, area.left, width, colour.data(), coverage.data());
      }
      if (!ApplyMask(layer, y, area.left, coverage)) return false;
      const float* cut = vector.empty() ? nullptr : vector.data() + static_cast<std::uint64_t>(y - area.top) * width;
      if (cut != nullptr) for (std::size_t x = 0; x < width; ++x) coverage[x] *= opacity * cut[x];
      else if (opacity < 1) for (std::size_t x = 0; x < width; ++x) coverage[x] *= opacity;
      if (streamed && bytes) {
        ByteSource channelRows{};
        for (int c = 0; c < n; ++c) channelRows.rows[c] = rows.Bytes(c, area.left);
        BlendRow(mode, space_, dest, y, area.left, width, channelRows, coverage.data());
      } else {
        BlendRow(mode, space_, dest, y, area.left, width, FloatSource{colour.data()}, coverage.data());
      }
    }
    return true;
  }

  // A clipped layer draws on its base's colour only where the base has pixels:
  // the base's alpha stays as it was.
  bool DrawClipped(const Node& node, Pixels<T>& base) {
    std::vector<T> alpha = base.alpha;
    if (!DrawNode(node, {}, base)) return false;
    base.alpha = std::move(alpha);
    return true;
  }

  // A pass-through group draws straight onto what lies beneath; its opacity
  // and mask then fade between that and what was there before, over the
  // part of the canvas the group's layers can change.
  bool DrawPassThrough(const Node& node, float opacity, Pixels<T>& dest) {
    const PsdLayer& layer = *node.layer;
    const bool masked = layer.mask.present && !layer.mask.disabled && layer.Channel(layer.mask.channelId) != nullptr;
    if (opacity >= 1 && !masked) return Draw(node.children, dest);
    const int n = channels_;
    const PsdRect region = Intersect(Bounds(node), dest.rect);
    const auto width = static_cast<std::size_t>(region.Width());
    Pixels<T> before(region, n);
    std::vector<float> c0(width * n), a0(width), c1(width * n), a1(width), k(width);
    for (std::int64_t y = region.top; y < region.bottom; ++y) {
      LoadRow(dest, y, region.left, width, c0.data(), a0.data());
      StoreRow(before, y, region.left, width, c0.data(), a0.data());
    }
    if (!Draw(node.children, dest)) return false;
    for (std::int64_t y = region.top; y < region.bottom; ++y) {
      k.assign(width, opacity);
      if (!ApplyMask(layer, y, region.left, k)) return false;
      LoadRow(before, y, region.left, width, c0.data(), a0.data());
      LoadRow(dest, y, region.left, width, c1.data(), a1.data());
      for (std::size_t x = 0; x < width; ++x) {
        const float a = a0[x] + (a1[x] - a0[x]) * k[x];
        for (int c = 0; c < n; ++c) {
          const std::size_t at = x * n + c;
          const float premultiplied = c0[at] * a0[x] + (c1[at] * a1[x] - c0[at] * a0[x]) * k[x];
          c1[at] = a > 0 ? premultiplied / a : 0.0f;
        }
        a1[x] = a;
      }
      StoreRow(dest, y, region.left, width, c1.data(), a1.data());
    }
    return true;
  }

  bool Damaged(const PsdLayer& layer) {
    result_.problem = "the pixels of layer \"" + layer.name + "\" are damaged";
    return false;
  }

  bool ReadRow(const PsdLayer& layer, LayerRows& rows, std::int64_t y, std::int64_t left, std::int64_t right,
               float* colour, float* alpha) {
    return rows.Row(y, left, right, colour, alpha) || Damaged(layer);
  }

  // Unpacks one channel of rows x columns samples; false when it is damaged.
  bool Unpack(const PsdLayerChannel& channel, std::int64_t rows, std::int64_t columns, int depth,
              std::vector<std::uint8_t>& out) {
    if (channel.offset + channel.length > file_.size() || channel.length < 2) return false;
    const std::uint8_t* at = file_.data() + channel.offset;
    const int compression = at[0] << 8 | at[1];
    return UnpackLayerChannel(std::span(at + 2, channel.length - 2), compression, static_cast<std::uint32_t>(rows),
                              static_cast<std::uint32_t>(columns), depth, header_.version, out);
  }

  // Opens a layer's rows: straight from its stored channels (its overlays
  // painted on each row as it is read), or from whole planes for a fill
  // drawn from its settings.
  bool OpenLayerRows(const PsdLayer& layer, std::optional<FillPixels> fill, const LayerStyle& style, LayerRows& rows) {
    if (!fill) {
      if (!rows.Open(file_, layer, channels_, header_.depth, header_.version)) return Damaged(layer);
      if (!style.overlays.empty()) rows.PaintRows(style, canvas_, layer.fillOpacity / 255.0f);
      return true;
    }
    const PsdRect rect = fill ? fill->rect : layer.rect;
    std::vector<std::vector<std::uint8_t>> planes(static_cast<std::size_t>(channels_ + 1));
    if (fill) planes = std::move(fill->planes);
    else if (!UnpackStoredPlanes(layer, planes)) return false;
    if (!style.overlays.empty() && Intersect(rect, canvas_).Width() > 0) {
      PaintOverlays(style, rect, canvas_, header_.depth, channels_, layer.fillOpacity / 255.0f, planes);
    }
    return rows.OpenPlanes(rect, std::move(planes), channels_, header_.depth) || Damaged(layer);
  }

  bool UnpackStoredPlanes(const PsdLayer& layer, std::vector<std::vector<std::uint8_t>>& planes) {
    if (layer.rect.Width() == 0 || Intersect(layer.rect, canvas_).Width() == 0) return true;
    for (const PsdLayerChannel& channel : layer.channels) {
      if (channel.id >= channels_ || channel.id < kLayerTransparency) continue;
      const auto slot = static_cast<std::size_t>(channel.id + 1);
      if (!Unpack(channel, layer.rect.Height(), layer.rect.Width(), header_.depth, planes[slot])) return Damaged(layer);
    }
    return true;
  }

  // Multiplies one row of coverage by the layer's raster mask, decoded once per layer.
  bool ApplyMask(const PsdLayer& layer, std::int64_t y, std::int64_t left, std::vector<float>& row) {
    const PsdLayerMask& mask = layer.mask;
    if (!mask.present || mask.disabled) return true;
    const PsdLayerChannel* channel = layer.Channel(mask.channelId);
    if (channel == nullptr) return true;
    if (maskOwner_ != &layer) {
      maskOwner_ = &layer;
      // Masks have the file's depth; some writers keep them at 8 bits.
      if (!Unpack(*channel, mask.rect.Height(), mask.rect.Width(), header_.depth, maskData_)) {
        maskDepth_ = 8;
        if (!Unpack(*channel, mask.rect.Height(), mask.rect.Width(), 8, maskData_)) {
          result_.problem = "the mask of layer \"" + layer.name + "\" is damaged";
          maskOwner_ = nullptr;
          return false;
        }
      } else {
        maskDepth_ = header_.depth;
      }
    }
    // Outside its rectangle the mask is its default colour; full coverage there changes nothing.
    const float outside = mask.defaultColour / 255.0f;
    const std::int64_t right = left + static_cast<std::int64_t>(row.size());
    const bool rowInside = y >= mask.rect.top && y < mask.rect.bottom;
    const std::int64_t from = rowInside ? std::clamp<std::int64_t>(mask.rect.left, left, right) : right;
    const std::int64_t to = rowInside ? std::clamp<std::int64_t>(mask.rect.right, from, right) : right;
    if (outside < 1) {
      for (std::int64_t x = left; x < from; ++x) row[static_cast<std::size_t>(x - left)] *= outside;
      for (std::int64_t x = to; x < right; ++x) row[static_cast<std::size_t>(x - left)] *= outside;
    }
    if (from == to) return true;
    const std::uint64_t start =
        static_cast<std::uint64_t>((y - mask.rect.top) * mask.rect.Width() + (from - mask.rect.left));
    float* out = row.data() + (from - left);
    const auto count = static_cast<std::size_t>(to - from);
    if (maskDepth_ == 8) {
      for (std::size_t i = 0; i < count; ++i) out[i] *= maskData_[start + i] * (1.0f / 255);
    } else {
      for (std::size_t i = 0; i < count; ++i) out[i] *= std::clamp(ReadPlaneSample(maskData_.data(), start + i, maskDepth_), 0.0f, 1.0f);
    }
    return true;
  }

  std::span<const std::uint8_t> file_;
  const PsdHeader& header_;
  int channels_;
  LayerComposite& result_;
  PsdRect canvas_;
  const PsdLayer* maskOwner_ = nullptr;
  std::vector<std::uint8_t> maskData_;
  int maskDepth_ = 8;
  DescriptorColours colours_;  // fill and overlay colours in the file's samples
  BlendSpace space_;
};

int ColourChannels(const PsdHeader& header) {
  if (header.colourMode == kPsdModeRgb) return 3;
  if (header.colourMode == kPsdModeGreyscale || header.colourMode == kPsdModeDuotone) return 1;
  if (CompositesThroughDisplayColour(header)) return StoredColourChannels(header);
  return 0;
}

// The canvas of a grey or RGB file: its colour in the picture the
// merged-image decoder would give (8-bit grey or 24-bit BGR, UINT16 or
// RGB16, FLOAT or RGBF), alpha beside it.
template <typename T>
Pixels<T> BitmapCanvas(const PsdRect& canvas, int channels) {
  Pixels<T> p;
  p.rect = canvas;
  p.channels = channels;
  const int width = static_cast<int>(canvas.Width());
  const int height = static_cast<int>(canvas.Height());
  const bool grey = channels == 1;
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    p.bitmap = Adopt(FreeImage_Allocate(width, height, grey ? 8 : 24));
    if (!p.bitmap) return p;
    if (grey) {
      RGBQUAD* palette = FreeImage_GetPalette(p.bitmap.get());
      for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    } else {
      p.order[0] = FI_RGBA_RED;
      p.order[1] = FI_RGBA_GREEN;
      p.order[2] = FI_RGBA_BLUE;
    }
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    p.bitmap = Adopt(FreeImage_AllocateT(grey ? FIT_UINT16 : FIT_RGB16, width, height));
  } else {
    p.bitmap = Adopt(FreeImage_AllocateT(grey ? FIT_FLOAT : FIT_RGBF, width, height));
  }
  if (!p.bitmap) return p;
  p.alpha.assign(p.Count(), T{});
  return p;
}

// The decoder's form for this mode and depth: 8-bit BGR(A) or 8-bit grey,
// RGB16/RGBA16 or UINT16, RGBF/RGBAF or FLOAT; alpha makes grey RGB(A).
template <typename T>
ImagePtr ToBitmap(Pixels<T>& canvas, const PsdHeader& header) {
  constexpr T kOpaque = std::is_same_v<T, float> ? T(1) : std::is_same_v<T, std::uint16_t> ? T(65535) : T(255);
  const bool hasAlpha = std::any_of(canvas.alpha.begin(), canvas.alpha.end(), [](T a) { return a < kOpaque; });
  // Where every pixel is covered the canvas kept in the picture is the picture.
  if (canvas.bitmap && !hasAlpha) return std::move(canvas.bitmap);
  const int width = static_cast<int>(header.width);
  const int height = static_cast<int>(header.height);
  const int n = canvas.channels;
  const bool grey = n == 1 && !hasAlpha;
  ImagePtr image;
  if (header.depth == 8) {
    image = Adopt(FreeImage_Allocate(width, height, grey ? 8 : hasAlpha ? 32 : 24));
    if (image && grey) {
      RGBQUAD* palette = FreeImage_GetPalette(image.get());
      for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }
  } else {
    const FREE_IMAGE_TYPE type = header.depth == 16 ? (grey ? FIT_UINT16 : hasAlpha ? FIT_RGBA16 : FIT_RGB16)
                                                    : (grey ? FIT_FLOAT : hasAlpha ? FIT_RGBAF : FIT_RGBF);
    image = Adopt(FreeImage_AllocateT(type, width, height));
  }
  if (!image) return nullptr;
  const int outChannels = grey ? 1 : hasAlpha ? 4 : 3;
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    // Bytes with their alpha go across as they are.
    if (hasAlpha && (n == 1 || n == 3)) {
      for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(image.get(), height - 1 - y);
        const std::uint8_t* c = canvas.ColourAt(0, y);
        const std::uint8_t* a = canvas.alpha.data() + canvas.Index(0, y);
        for (int x = 0; x < width; ++x) {
          BYTE* p = line + 4 * x;
          const std::uint8_t* from = c + static_cast<std::ptrdiff_t>(x) * n;
          p[FI_RGBA_RED] = from[canvas.order[0]];
          p[FI_RGBA_GREEN] = from[canvas.order[n == 3 ? 1 : 0]];
          p[FI_RGBA_BLUE] = from[canvas.order[n == 3 ? 2 : 0]];
          p[FI_RGBA_ALPHA] = a[x];
        }
      }
      return image;
    }
  }
  std::vector<float> colour(static_cast<std::size_t>(width) * n);
  std::vector<float> alpha(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), height - 1 - y);
    LoadRow(canvas, y, 0, static_cast<std::size_t>(width), colour.data(), alpha.data());
    for (int x = 0; x < width; ++x) {
      const float* c = colour.data() + static_cast<std::size_t>(x) * n;
      float rgba[4] = {c[0], c[n > 1 ? 1 : 0], c[n > 1 ? 2 : 0], alpha[static_cast<std::size_t>(x)]};
      if (!hasAlpha) {
        // Whatever the layers leave uncovered shows white, as beneath a flattened picture.
        for (int k = 0; k < 3; ++k) rgba[k] = rgba[k] * rgba[3] + (1 - rgba[3]);
      }
      if (header.depth == 8) {
        BYTE* p = line + x * outChannels;
        auto byte = [](float v) { return static_cast<BYTE>(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f); };
        if (grey) {
          p[0] = byte(rgba[0]);
        } else {
          p[FI_RGBA_RED] = byte(rgba[0]);
          p[FI_RGBA_GREEN] = byte(rgba[1]);
          p[FI_RGBA_BLUE] = byte(rgba[2]);
          if (hasAlpha) p[FI_RGBA_ALPHA] = byte(rgba[3]);
        }
      } else if (header.depth == 16) {
        auto* p = reinterpret_cast<WORD*>(line) + x * outChannels;
        for (int k = 0; k < outChannels; ++k) {
          p[k] = static_cast<WORD>(std::clamp(rgba[k], 0.0f, 1.0f) * 65535 + 0.5f);
        }
      } else {
        auto* p = reinterpret_cast<float*>(line) + x * outChannels;
        for (int k = 0; k < outChannels; ++k) p[k] = rgba[k];
      }
    }
  }
  return image;
}

// CMYK and Lab canvases as the merged-image decoder shows those modes: 24-bit
// RGB (with alpha where the layers leave any) through the file's colour
// conversion, each pixel mixed with blank paper first.
template <typename T>
ImagePtr ToDisplayRgb(const Pixels<T>& canvas, const PsdDocument& document) {
  const PsdHeader& header = document.header;
  const int width = static_cast<int>(header.width);
  const int height = static_cast<int>(header.height);
  // Transparency stays beside the colour, as the decoder keeps a merged image's.
  const bool hasAlpha = std::any_of(canvas.alpha.begin(), canvas.alpha.end(), [](T a) { return a < (std::is_same_v<T, std::uint16_t> ? T(65535) : T(255)); });
  const int step = hasAlpha ? 4 : 3;
  ImagePtr image = Adopt(FreeImage_Allocate(width, height, 8 * step));
  if (!image) return nullptr;
  StoredColourDisplay display(document);
  std::vector<float> colour(static_cast<std::size_t>(width) * canvas.channels);
  std::vector<float> alpha(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    LoadRow(canvas, y, 0, static_cast<std::size_t>(width), colour.data(), alpha.data());
    display.Convert(colour.data(), alpha.data(), FreeImage_GetScanLine(image.get(), height - 1 - y),
                    static_cast<std::size_t>(width), hasAlpha);
  }
  return image;
}

template <typename T>
void Composite(const PsdDocument& document, LayerComposite& result) {
  const PsdHeader& header = document.header;
  const int n = ColourChannels(header);
  Compositor<T> compositor(document, n, result);
  Pixels<T> canvas;
  if (n == 1 || n == 3) canvas = BitmapCanvas<T>(compositor.Canvas(), n);
  else canvas = Pixels<T>(compositor.Canvas(), n);
  if (canvas.alpha.size() != canvas.Count() || (!canvas.bitmap && canvas.colour.size() != canvas.Count() * n)) {
    result.problem = "no memory for the composited picture";
    return;
  }
  if (!compositor.Draw(BuildTree(document.layers.layers), canvas)) return;
  result.image = CompositesThroughDisplayColour(header) ? ToDisplayRgb(canvas, document) : ToBitmap(canvas, header);
  if (!result.image) result.problem = "no memory for the composited picture";
}

}  // namespace

bool CanCompositeLayers(const PsdHeader& header) {
  return ColourChannels(header) > 0 && (header.depth == 8 || header.depth == 16 || header.depth == 32);
}

LayerComposite CompositeLayers(const PsdDocument& document) {
  const PsdHeader& header = document.header;
  const PsdLayers& layers = document.layers;
  LayerComposite result;
  if (!CanCompositeLayers(header)) {
    result.problem = "layers of this colour mode and depth are not composited";
    return result;
  }
  if (layers.layers.empty()) {
    result.problem = layers.problem.empty() ? "the file has no layers" : layers.problem;
    return result;
  }
  if (header.depth == 8) Composite<std::uint8_t>(document, result);
  else if (header.depth == 16) Composite<std::uint16_t>(document, result);
  else Composite<float>(document, result);
  return result;
}

}  // namespace kestrel
