#include "engine/layer_composite.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "engine/blend_modes.h"
#include "engine/fill_layers.h"
#include "engine/layer_channels.h"
#include "engine/layer_effects.h"
#include "engine/vector_mask.h"

namespace kestrel {
namespace {

// Groups nest no deeper than this; deeper markers are taken as plain layers.
constexpr std::size_t kMaxGroupDepth = 64;

// Pixels over a rectangle of the canvas: straight colour and alpha, as floats.
struct Pixels {
  PsdRect rect;
  int channels = 0;
  std::vector<float> colour;
  std::vector<float> alpha;

  Pixels() = default;
  Pixels(const PsdRect& r, int c)
      : rect(r), channels(c), colour(static_cast<std::size_t>(r.Width() * r.Height() * c), 0.0f),
        alpha(static_cast<std::size_t>(r.Width() * r.Height()), 0.0f) {}
  std::uint64_t Index(std::int64_t x, std::int64_t y) const {
    return static_cast<std::uint64_t>((y - rect.top) * rect.Width() + (x - rect.left));
  }
};

PsdRect Intersect(const PsdRect& a, const PsdRect& b) {
  PsdRect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
            std::min(a.right, b.right)};
  if (r.Width() == 0 || r.Height() == 0) return PsdRect{};
  return r;
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

float Sample(const std::uint8_t* data, std::uint64_t index, int depth) {
  switch (depth) {
    case 8: return data[index] / 255.0f;
    case 16: return (data[2 * index] << 8 | data[2 * index + 1]) / 65535.0f;
    case 32: {
      const std::uint8_t* p = data + 4 * index;
      const std::uint32_t bits = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | p[2] << 8 | p[3];
      const float value = std::bit_cast<float>(bits);
      return std::isfinite(value) ? value : 0.0f;
    }
    default: return (data[index / 8] >> (7 - index % 8) & 1) != 0 ? 0.0f : 1.0f;
  }
}

// A layer's channels as the file stores them once unpacked: transparency
// first, then each colour channel; a missing one reads as 0 (colour) or 1 (transparency).
struct LayerPlanes {
  PsdRect rect;
  int depth = 8;
  int channels = 0;
  std::vector<std::vector<std::uint8_t>> data;
  std::vector<bool> present;

  // Row y, columns [left, right) of the canvas, which lie within the layer.
  void Row(std::int64_t y, std::int64_t left, std::int64_t right, float* colour, float* alpha) const {
    const std::uint64_t start = static_cast<std::uint64_t>((y - rect.top) * rect.Width() + (left - rect.left));
    const auto count = static_cast<std::size_t>(right - left);
    for (int slot = 0; slot <= channels; ++slot) {
      const bool have = present[static_cast<std::size_t>(slot)];
      const std::uint8_t* bytes = have ? data[static_cast<std::size_t>(slot)].data() : nullptr;
      if (slot == 0) {
        for (std::size_t x = 0; x < count; ++x) alpha[x] = have ? std::clamp(Sample(bytes, start + x, depth), 0.0f, 1.0f) : 1.0f;
      } else if (depth == 8 && have) {
        for (std::size_t x = 0; x < count; ++x) colour[x * channels + slot - 1] = bytes[start + x] * (1.0f / 255);
      } else {
        for (std::size_t x = 0; x < count; ++x) colour[x * channels + slot - 1] = have ? Sample(bytes, start + x, depth) : 0.0f;
      }
    }
  }
};

class Compositor {
 public:
  Compositor(std::span<const std::uint8_t> file, const PsdHeader& header, int channels, LayerComposite& result)
      : file_(file), header_(header), channels_(channels), result_(result) {
    canvas_.right = static_cast<std::int32_t>(header.width);
    canvas_.bottom = static_cast<std::int32_t>(header.height);
  }

  const PsdRect& Canvas() const { return canvas_; }

  // Draws nodes, bottom to top, onto dest.
  bool Draw(const std::vector<Node>& nodes, Pixels& dest) {
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
  bool DrawNode(const Node& node, std::span<const Node> clipped, Pixels& dest) {
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
      fill = DrawFillLayer(file_, layer, header_, channels_);
      if (!fill) {
        ++result_.adjustmentsSkipped;
        return true;
      }
    }
    LayerStyle style = ReadLayerStyle(file_, layer, header_.colourMode);
    if (node.group && !style.overlays.empty()) style = LayerStyle{{}, true};
    if (style.leftOut) ++result_.effectsSkipped;
    const BlendMode mode = BlendModeFromKey(layer.blendMode);
    // A layer with overlays has its fill opacity in its pixels already.
    const float fillOpacity = style.overlays.empty() ? layer.fillOpacity / 255.0f : 1.0f;
    const float opacity = layer.opacity / 255.0f * fillOpacity;
    if (node.group && mode == BlendMode::PassThrough && clipped.empty()) return DrawPassThrough(node, opacity, dest);
    // A plain layer is read row by row from its unpacked channels; a group, a
    // fill, or a layer with others clipped to it is made whole first.
    Pixels source;
    LayerPlanes planes;
    PsdRect sourceRect;
    const bool streamed = !node.group && clipped.empty();
    if (streamed) {
      if (!UnpackPlanes(layer, std::move(fill), style, planes)) return false;
      sourceRect = Intersect(planes.rect, canvas_);
      ++result_.layersDrawn;
    } else {
      if (node.group) {
        source = Pixels(Intersect(canvas_, dest.rect), channels_);
        if (!Draw(node.children, source)) return false;
      } else {
        if (!UnpackPlanes(layer, std::move(fill), style, planes)) return false;
        source = Pixels(Intersect(planes.rect, canvas_), channels_);
        for (std::int64_t y = source.rect.top; y < source.rect.bottom; ++y) {
          const std::uint64_t at = source.Index(source.rect.left, y);
          planes.Row(y, source.rect.left, source.rect.right, source.colour.data() + at * channels_,
                     source.alpha.data() + at);
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
    std::vector<float> colour(width * channels_);
    std::vector<float> coverage(width);
    for (std::int64_t y = area.top; y < area.bottom; ++y) {
      if (streamed) {
        planes.Row(y, area.left, area.right, colour.data(), coverage.data());
      } else {
        const std::uint64_t from = source.Index(area.left, y);
        std::copy_n(source.colour.data() + from * channels_, colour.size(), colour.data());
        std::copy_n(source.alpha.data() + from, width, coverage.data());
      }
      if (!ApplyMask(layer, y, area.left, coverage)) return false;
      const float* cut = vector.empty() ? nullptr : vector.data() + static_cast<std::uint64_t>(y - area.top) * width;
      for (std::size_t x = 0; x < width; ++x) coverage[x] *= cut != nullptr ? opacity * cut[x] : opacity;
      const std::uint64_t to = dest.Index(area.left, y);
      BlendPixels(mode, channels_, dest.colour.data() + to * channels_, dest.alpha.data() + to, colour.data(),
                  coverage.data(), width);
    }
    return true;
  }

  // A clipped layer draws on its base's colour only where the base has pixels:
  // the base's alpha stays as it was.
  bool DrawClipped(const Node& node, Pixels& base) {
    std::vector<float> alpha = base.alpha;
    if (!DrawNode(node, {}, base)) return false;
    base.alpha = std::move(alpha);
    return true;
  }

  // A pass-through group draws straight onto what lies beneath; its opacity
  // and mask then fade between that and what was there before.
  bool DrawPassThrough(const Node& node, float opacity, Pixels& dest) {
    const PsdLayer& layer = *node.layer;
    const bool masked = layer.mask.present && !layer.mask.disabled && layer.Channel(layer.mask.channelId) != nullptr;
    if (opacity >= 1 && !masked) return Draw(node.children, dest);
    Pixels before = dest;
    if (!Draw(node.children, dest)) return false;
    std::vector<float> k;
    for (std::int64_t y = dest.rect.top; y < dest.rect.bottom; ++y) {
      k.assign(static_cast<std::size_t>(dest.rect.Width()), opacity);
      if (!ApplyMask(layer, y, dest.rect.left, k)) return false;
      const std::uint64_t row = dest.Index(dest.rect.left, y);
      for (std::size_t x = 0; x < k.size(); ++x) {
        const std::uint64_t i = row + x;
        const float a0 = before.alpha[i];
        const float a1 = dest.alpha[i];
        const float a = a0 + (a1 - a0) * k[x];
        for (int c = 0; c < channels_; ++c) {
          const std::uint64_t at = i * channels_ + c;
          const float premultiplied = before.colour[at] * a0 + (dest.colour[at] * a1 - before.colour[at] * a0) * k[x];
          dest.colour[at] = a > 0 ? premultiplied / a : 0.0f;
        }
        dest.alpha[i] = a;
      }
    }
    return true;
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

  // Unpacks the layer's colour and transparency channels, or takes the
  // fill's, and paints the style's overlays over them.
  bool UnpackPlanes(const PsdLayer& layer, std::optional<FillPixels> fill, const LayerStyle& style,
                    LayerPlanes& planes) {
    planes.rect = fill ? fill->rect : layer.rect;
    planes.depth = header_.depth;
    planes.channels = channels_;
    planes.data.assign(static_cast<std::size_t>(channels_ + 1), {});
    planes.present.assign(static_cast<std::size_t>(channels_ + 1), false);
    if (fill) {
      planes.data = std::move(fill->planes);
      planes.present.assign(planes.data.size(), true);
    } else if (!UnpackStoredPlanes(layer, planes)) {
      return false;
    }
    if (!style.overlays.empty() && Intersect(planes.rect, canvas_).Width() > 0) {
      PaintOverlays(style, planes.rect, canvas_, header_.depth, channels_, layer.fillOpacity / 255.0f, planes.data);
      std::fill(planes.present.begin(), planes.present.end(), true);
    }
    return true;
  }

  bool UnpackStoredPlanes(const PsdLayer& layer, LayerPlanes& planes) {
    if (layer.rect.Width() == 0 || Intersect(layer.rect, canvas_).Width() == 0) return true;
    for (const PsdLayerChannel& channel : layer.channels) {
      if (channel.id >= channels_ || channel.id < kLayerTransparency) continue;
      const auto slot = static_cast<std::size_t>(channel.id + 1);
      if (!Unpack(channel, layer.rect.Height(), layer.rect.Width(), header_.depth, planes.data[slot])) {
        result_.problem = "the pixels of layer \"" + layer.name + "\" are damaged";
        return false;
      }
      planes.present[slot] = true;
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
    const float outside = mask.defaultColour / 255.0f;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::int64_t x = left + static_cast<std::int64_t>(i);
      float value = outside;
      if (x >= mask.rect.left && x < mask.rect.right && y >= mask.rect.top && y < mask.rect.bottom) {
        const std::uint64_t index =
            static_cast<std::uint64_t>((y - mask.rect.top) * mask.rect.Width() + (x - mask.rect.left));
        value = std::clamp(Sample(maskData_.data(), index, maskDepth_), 0.0f, 1.0f);
      }
      row[i] *= value;
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
};

int ColourChannels(const PsdHeader& header) {
  if (header.colourMode == kPsdModeRgb) return 3;
  if (header.colourMode == kPsdModeGreyscale || header.colourMode == kPsdModeDuotone) return 1;
  return 0;
}

// The decoder's form for this mode and depth: 8-bit BGR(A) or 8-bit grey,
// RGB16/RGBA16 or UINT16, RGBF/RGBAF or FLOAT; alpha makes grey RGB(A).
ImagePtr ToBitmap(const Pixels& canvas, const PsdHeader& header) {
  const bool hasAlpha = std::any_of(canvas.alpha.begin(), canvas.alpha.end(), [](float a) { return a < 1.0f; });
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
  for (int y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const std::uint64_t i = canvas.Index(x, y);
      const float* c = canvas.colour.data() + i * n;
      float rgba[4] = {c[0], c[n > 1 ? 1 : 0], c[n > 1 ? 2 : 0], canvas.alpha[i]};
      if (!hasAlpha) {
        // Whatever the layers leave uncovered shows white, as beneath a flattened picture.
        for (int k = 0; k < 3; ++k) rgba[k] = rgba[k] * rgba[3] + (1 - rgba[3]);
      }
      if (header.depth == 8) {
        BYTE* p = line + x * outChannels;
        auto byte = [](float v) { return static_cast<BYTE>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
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
          p[k] = static_cast<WORD>(std::lround(std::clamp(rgba[k], 0.0f, 1.0f) * 65535));
        }
      } else {
        auto* p = reinterpret_cast<float*>(line) + x * outChannels;
        for (int k = 0; k < outChannels; ++k) p[k] = rgba[k];
      }
    }
  }
  return image;
}

}  // namespace

bool CanCompositeLayers(const PsdHeader& header) {
  return ColourChannels(header) > 0 && (header.depth == 8 || header.depth == 16 || header.depth == 32);
}

LayerComposite CompositeLayers(std::span<const std::uint8_t> file, const PsdHeader& header, const PsdLayers& layers) {
  LayerComposite result;
  if (!CanCompositeLayers(header)) {
    result.problem = "layers of this colour mode and depth are not composited";
    return result;
  }
  if (layers.layers.empty()) {
    result.problem = layers.problem.empty() ? "the file has no layers" : layers.problem;
    return result;
  }
  Compositor compositor(file, header, ColourChannels(header), result);
  Pixels canvas(compositor.Canvas(), ColourChannels(header));
  if (!compositor.Draw(BuildTree(layers.layers), canvas)) return result;
  result.image = ToBitmap(canvas, header);
  if (!result.image) result.problem = "no memory for the composited picture";
  return result;
}

}  // namespace kestrel
