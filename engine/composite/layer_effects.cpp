#include "engine/composite/layer_effects.h"

#include <algorithm>
#include <string_view>

#include "engine/composite/dissolve.h"
#include "engine/composite/effect_names.h"
#include "engine/composite/effect_overlays.h"
#include "engine/composite/stored_colour_display.h"
#include "engine/composite/plane_samples.h"
#include "engine/psd/descriptor.h"

namespace kestrel {
namespace {

}  // namespace

std::optional<Overlay> ReadOverlay(const DescriptorValue& effect, bool gradient, const DescriptorColours& colours) {
  Overlay overlay;
  const std::optional<EffectBlend> blend = ReadEffectBlend(effect);
  if (!blend) return std::nullopt;
  overlay.mode = blend->mode;
  overlay.opacity = blend->opacity;
  if (gradient) {
    overlay.gradient = ReadGradient(effect, colours);
    if (!overlay.gradient) return std::nullopt;
    overlay.alignWithLayer = effect.BooleanOr("Algn", true);
  } else {
    const DescriptorValue* colour = effect.Find("Clr ");
    if (colour == nullptr || !colours.Read(*colour, overlay.colour)) return std::nullopt;
  }
  return overlay;
}

LayerStyle ReadLayerStyle(std::span<const std::uint8_t> file, const PsdLayer& layer, const EffectContext& context) {
  LayerStyle style;
  style.space = context.space;
  // Groups keep their style in a block of its own.
  const bool described = layer.effects.key == FourCC("lfx2") || layer.effects.key == FourCC("lmfx");
  const PsdBlockRef& block = !described && layer.otherStyle.Present() ? layer.otherStyle : layer.effects;
  if (!layer.hasEffects && !layer.otherStyle.Present()) return style;
  std::optional<DescriptorValue> settings;
  if ((block.key == FourCC("lfx2") || block.key == FourCC("lmfx") || block.key == FourCC("lfxs")) &&
      block.offset <= file.size() &&
      block.length <= file.size() - block.offset) {
    settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 4);
  }
  if (!settings) {
    style.leftOut = true;
    style.notDrawn.emplace_back("layer style");
    return style;
  }
  EffectContext own = context;
  own.reference = layer.referencePoint;
  StyleEffects effects = ReadStyleEffects(*settings, own);
  style.notDrawn = std::move(effects.notDrawn);
  style.leftOut = !style.notDrawn.empty();
  style.effects = std::move(effects.effects);
  // A style of overlays alone is painted on the layer's rows as they are read.
  const bool overlaysOnly = std::all_of(style.effects.begin(), style.effects.end(), [](const PlacedEffect& e) {
    return e.kind->read == ReadColourOverlay || e.kind->read == ReadGradientOverlay;
  });
  if (overlaysOnly) {
    for (const PlacedEffect& effect : style.effects) {
      std::optional<Overlay> overlay = ReadOverlay(*effect.settings, effect.kind->read == ReadGradientOverlay,
                                                  context.colours);
      if (overlay) style.overlays.push_back(std::move(*overlay));
    }
  }
  return style;
}

int LayerStyle::Reach() const {
  int reach = 0;
  for (const PlacedEffect& effect : effects) reach = std::max(reach, effect.effect.reach);
  return reach;
}

OverlayPainter::OverlayPainter(const LayerStyle& style, const PsdRect& rect, const PsdRect& canvas, int depth,
                               int channels, float fillOpacity)
    : style_(style),
      rect_(rect),
      depth_(depth),
      channels_(channels),
      fillOpacity_(std::clamp(fillOpacity, 0.0f, 1.0f)),
      width_(static_cast<std::uint64_t>(rect.Width())),
      colour_(width_ * static_cast<std::uint64_t>(channels)),
      paint_(width_ * static_cast<std::uint64_t>(channels)),
      coverage_(width_),
      content_(width_) {
  const std::int64_t pixels = rect.Width() * rect.Height();
  for (const Overlay& overlay : style.overlays) {
    painters_.emplace_back();
    if (overlay.gradient) painters_.back().emplace(*overlay.gradient, overlay.alignWithLayer ? rect : canvas, channels, pixels);
  }
}

void OverlayPainter::PaintRow(std::int64_t y, std::uint8_t* const* rows) {
  const auto n = static_cast<std::uint64_t>(channels_);
  for (int c = 0; c < channels_; ++c) {
    const std::uint8_t* row = rows[c + 1];
    float* to = colour_.data() + c;
    if (depth_ == 8) {
      for (std::uint64_t x = 0; x < width_; ++x) to[x * n] = row[x] * (1.0f / 255);
    } else {
      for (std::uint64_t x = 0; x < width_; ++x) to[x * n] = ReadPlaneSample(row, x, depth_);
    }
  }
  // The layer's own pixels count at its fill opacity; the overlays at theirs.
  std::fill(content_.begin(), content_.end(), fillOpacity_);
  const PsdRect line{static_cast<std::int32_t>(y), rect_.left, static_cast<std::int32_t>(y + 1), rect_.right};
  for (std::size_t o = 0; o < style_.overlays.size(); ++o) {
    const Overlay& overlay = style_.overlays[o];
    if (painters_[o]) {
      painters_[o]->Paint(line, paint_.data(), coverage_.data());
    } else {
      for (std::uint64_t x = 0; x < width_; ++x) std::copy_n(overlay.colour, channels_, paint_.data() + x * n);
      std::fill(coverage_.begin(), coverage_.end(), 1.0f);
    }
    for (float& k : coverage_) k *= overlay.opacity;
    if (overlay.mode == BlendMode::Dissolve) DissolveCoverage(y, rect_.left, coverage_);
    BlendPixels(overlay.mode, channels_, colour_.data(), content_.data(), paint_.data(), coverage_.data(), width_,
                style_.space);
  }
  for (std::uint64_t x = 0; x < width_; ++x) {
    WritePlaneSample(rows[0], x, depth_, ReadPlaneSample(rows[0], x, depth_) * content_[x]);
  }
  for (int c = 0; c < channels_; ++c) {
    std::uint8_t* row = rows[c + 1];
    const float* from = colour_.data() + c;
    if (depth_ == 8) {
      for (std::uint64_t x = 0; x < width_; ++x) row[x] = static_cast<std::uint8_t>(std::clamp(from[x * n], 0.0f, 1.0f) * 255 + 0.5f);
    } else {
      for (std::uint64_t x = 0; x < width_; ++x) WritePlaneSample(row, x, depth_, from[x * n]);
    }
  }
}

}  // namespace kestrel
