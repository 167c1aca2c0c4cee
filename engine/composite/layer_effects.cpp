#include "engine/composite/layer_effects.h"

#include <algorithm>
#include <string_view>

#include "engine/composite/stored_colour_display.h"
#include "engine/composite/plane_samples.h"
#include "engine/psd/descriptor.h"

namespace kestrel {
namespace {

bool Enabled(const DescriptorValue& effect) {
  return effect.type == DescriptorValue::Type::Object && effect.BooleanOr("enab", true) &&
         effect.BooleanOr("present", true);
}

// An overlay effect, or empty when it cannot be drawn.
std::optional<Overlay> ReadOverlay(const DescriptorValue& effect, bool gradient, bool pattern,
                                   const DescriptorColours& colours, const PatternLibrary* patterns) {
  Overlay overlay;
  const std::string_view mode = effect.EnumOf("Md  ");
  const std::optional<BlendMode> blend = BlendModeFromName(mode.empty() ? "Nrml" : mode);
  if (!blend) return std::nullopt;
  overlay.mode = *blend;
  overlay.opacity = static_cast<float>(std::clamp(effect.NumberOr("Opct", 100) / 100.0, 0.0, 1.0));
  if (pattern) {
    const std::optional<PatternChoice> choice = ReadPatternChoice(effect);
    if (!choice || patterns == nullptr) return std::nullopt;
    overlay.pattern = patterns->Find(choice->id, choice->name);
    if (!overlay.pattern || overlay.pattern->channels != colours.Channels()) return std::nullopt;
    overlay.patternChoice = *choice;
  } else if (gradient) {
    overlay.gradient = ReadGradient(effect, colours);
    if (!overlay.gradient) return std::nullopt;
    overlay.alignWithLayer = effect.BooleanOr("Algn", true);
  } else {
    const DescriptorValue* colour = effect.Find("Clr ");
    if (colour == nullptr || !colours.Read(*colour, overlay.colour)) return std::nullopt;
  }
  return overlay;
}

// The effects one key holds: one descriptor, or a list of them for the keys that allow several.
std::vector<const DescriptorValue*> EffectsOf(const DescriptorValue& value) {
  std::vector<const DescriptorValue*> effects;
  if (value.type == DescriptorValue::Type::Object) effects.push_back(&value);
  for (const DescriptorValue& item : value.list) effects.push_back(&item);
  return effects;
}

}  // namespace

LayerStyle ReadLayerStyle(std::span<const std::uint8_t> file, const PsdLayer& layer, const DescriptorColours& colourSpace,
                          const PatternLibrary* patterns) {
  LayerStyle style;
  style.space = BlendSpaceOf(colourSpace.Mode(), colourSpace.Depth());
  const PsdBlockRef& block = layer.effects;
  if (!layer.hasEffects) return style;
  std::optional<DescriptorValue> settings;
  if ((block.key == FourCC("lfx2") || block.key == FourCC("lmfx")) && block.offset <= file.size() &&
      block.length <= file.size() - block.offset) {
    settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 4);
  }
  if (!settings) {
    style.leftOut = true;
    return style;
  }
  if (!settings->BooleanOr("masterFXSwitch", true)) return style;  // the style is switched off
  std::vector<Overlay> fills;  // pattern overlays
  std::vector<Overlay> gradients;
  std::vector<Overlay> colours;
  for (const DescriptorItem& item : settings->items) {
    const bool gradient = item.key == "GrFl" || item.key == "gradientFillMulti";
    const bool colour = item.key == "SoFi" || item.key == "solidFillMulti";
    const bool pattern = item.key == "patternFill";
    const bool effect = item.value.type == DescriptorValue::Type::Object || item.value.type == DescriptorValue::Type::List;
    if (!effect || item.key == "Scl ") continue;
    for (const DescriptorValue* one : EffectsOf(item.value)) {
      if (!Enabled(*one)) continue;
      std::optional<Overlay> overlay;
      if (gradient || colour || pattern) overlay = ReadOverlay(*one, gradient, pattern, colourSpace, patterns);
      if (!overlay) style.leftOut = true;
      else (pattern ? fills : gradient ? gradients : colours).push_back(std::move(*overlay));
    }
  }
  // A colour overlay lies above a gradient overlay, which lies above a pattern overlay.
  style.overlays = std::move(fills);
  for (Overlay& overlay : gradients) style.overlays.push_back(std::move(overlay));
  for (Overlay& overlay : colours) style.overlays.push_back(std::move(overlay));
  return style;
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
    patterns_.emplace_back();
    if (overlay.pattern) patterns_.back() = MakePatternPainter(*overlay.pattern, overlay.patternChoice);
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
    } else if (patterns_[o]) {
      patterns_[o]->Paint(line, paint_.data(), coverage_.data());
    } else {
      for (std::uint64_t x = 0; x < width_; ++x) std::copy_n(overlay.colour, channels_, paint_.data() + x * n);
      std::fill(coverage_.begin(), coverage_.end(), 1.0f);
    }
    for (float& k : coverage_) k *= overlay.opacity;
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
