#include "engine/composite/fill_layers.h"

#include <algorithm>

#include "engine/composite/plane_samples.h"
#include "engine/composite/rects.h"
#include "engine/composite/vector_mask.h"

namespace kestrel {

bool DrawnFromSettings(const PsdLayer& layer) {
  if (!layer.isFill) return false;
  if (layer.rect.Width() == 0 || layer.rect.Height() == 0) return true;
  return std::any_of(layer.channels.begin(), layer.channels.end(),
                     [](const PsdLayerChannel& c) { return c.id >= kLayerTransparency && c.length <= 2; });
}

PsdRect FillLayerBounds(const PsdLayer& layer, const PsdRect& canvas) {
  return layer.hasVectorMask && !layer.vectorMask.disabled ? VectorMaskBounds(layer.vectorMask, canvas) : canvas;
}

FillPainter::FillPainter(const PsdLayer& layer, const PsdHeader& header, int channels, const float* solid,
                         std::optional<Gradient> gradient, bool alignedWithLayer, const PatternLibrary* patterns,
                         const PatternChoice* pattern)
    : channels_(channels), depth_(header.depth), gradient_(std::move(gradient)) {
  const PsdRect canvas = PictureRect(header);
  rect_ = FillLayerBounds(layer, canvas);
  std::copy_n(solid, channels, solid_);
  const auto width = static_cast<std::size_t>(rect_.Width());
  if (layer.hasVectorMask && !layer.vectorMask.disabled) shape_ = RasteriseVectorMask(layer.vectorMask, rect_);
  colour_.resize(width * static_cast<std::size_t>(channels));
  opacity_.assign(width, 1.0f);
  if (patterns != nullptr && pattern != nullptr) {
    pattern_ = MakePatternPainter(*patterns, *pattern);
  } else if (gradient_) {
    // A gradient aligned with the layer spans the shape's bounds, otherwise the canvas.
    painter_.emplace(*gradient_, alignedWithLayer ? rect_ : canvas, channels, rect_.Width() * rect_.Height());
  } else {
    for (std::size_t x = 0; x < width; ++x) std::copy_n(solid_, channels, colour_.data() + x * channels);
  }
}

bool FillPainter::Opaque() const {
  if (!shape_.empty() || pattern_) return false;
  if (!gradient_) return true;
  const std::vector<GradientStop>& stops = gradient_->opacities;
  return !stops.empty() && std::all_of(stops.begin(), stops.end(), [](const GradientStop& s) { return s.value[0] >= 1; });
}

void FillPainter::PaintRow(std::int64_t y, std::uint8_t* const* rows) {
  const auto width = static_cast<std::uint64_t>(rect_.Width());
  const auto row = static_cast<std::int32_t>(y);
  if (painter_) painter_->Paint(PsdRect{row, rect_.left, row + 1, rect_.right}, colour_.data(), opacity_.data());
  if (pattern_) pattern_->Paint(PsdRect{row, rect_.left, row + 1, rect_.right}, colour_.data(), opacity_.data());
  const float* shape = shape_.empty() ? nullptr : shape_.data() + static_cast<std::uint64_t>(y - rect_.top) * width;
  for (std::uint64_t x = 0; x < width; ++x) {
    float coverage = shape != nullptr ? shape[x] : 1.0f;
    if (painter_ || pattern_) coverage *= opacity_[x];
    WritePlaneSample(rows[0], x, depth_, coverage);
    for (int c = 0; c < channels_; ++c) {
      WritePlaneSample(rows[c + 1], x, depth_, colour_[x * static_cast<std::uint64_t>(channels_) + static_cast<std::uint64_t>(c)]);
    }
  }
}

FillReading ReadFillLayer(std::span<const std::uint8_t> file, const PsdLayer& layer, const PsdHeader& header,
                          const DescriptorColours& colours, const PatternLibrary& patterns) {
  const int channels = colours.Channels();
  const PsdBlockRef& block = layer.fill;
  const int depth = header.depth;
  if ((depth != 8 && depth != 16 && depth != 32) || channels < 1 || channels > 4) return {};
  if (!block.Present() || block.offset > file.size() || block.length > file.size() - block.offset) {
    return {nullptr, true};
  }
  const std::optional<DescriptorValue> settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 0);
  if (!settings) return {nullptr, true};

  float solid[4] = {0, 0, 0, 0};
  std::optional<Gradient> gradient;
  if (block.key == FourCC("SoCo")) {
    const DescriptorValue* colour = settings->Find("Clr ");
    if (colour == nullptr || !colours.Read(*colour, solid)) return {};
  } else if (block.key == FourCC("GdFl")) {
    gradient = ReadGradient(*settings, colours);
    if (!gradient) return {};
    gradient->ends = Gradient::Ends::Rounded;
  } else if (block.key == FourCC("PtFl")) {
    const std::optional<PatternChoice> pattern = ReadPatternChoice(*settings);
    if (!pattern) return {nullptr, true};
    const std::shared_ptr<const PatternTile> tile = patterns.Find(pattern->id, pattern->name);
    if (!tile || tile->channels != channels) return {};
    return {std::make_unique<FillPainter>(layer, header, channels, solid, std::nullopt, true,
                                          &patterns, &*pattern),
            false};
  } else {
    return {};
  }
  return {std::make_unique<FillPainter>(layer, header, channels, solid, std::move(gradient),
                                        settings->BooleanOr("Algn", true)),
          false};
}

}  // namespace kestrel
