#include "engine/composite/layer_mask_coverage.h"

#include <algorithm>

#include "engine/composite/plane_samples.h"
#include "engine/psd/channels.h"

namespace kestrel {

bool LayerMaskCoverage::Masks(const PsdLayer& layer) {
  return layer.mask.present && !layer.mask.disabled && layer.Channel(layer.mask.channelId) != nullptr;
}

bool LayerMaskCoverage::Apply(const PsdLayer& layer, std::int64_t y, std::int64_t left, std::vector<float>& row) {
  if (!Masks(layer)) return true;
  const PsdLayerMask& mask = layer.mask;
  if (owner_ != &layer) {
    const PsdLayerChannel& channel = *layer.Channel(mask.channelId);
    owner_ = nullptr;
    if (Unpack(channel, mask.rect, fileDepth_)) depth_ = fileDepth_;
    else if (Unpack(channel, mask.rect, 8)) depth_ = 8;
    else return false;
    owner_ = &layer;
  }
  // Full coverage outside the rectangle changes nothing.
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
  if (depth_ == 8) {
    for (std::size_t i = 0; i < count; ++i) out[i] *= samples_[start + i] * (1.0f / 255);
  } else {
    for (std::size_t i = 0; i < count; ++i) out[i] *= std::clamp(ReadPlaneSample(samples_.data(), start + i, depth_), 0.0f, 1.0f);
  }
  return true;
}

bool LayerMaskCoverage::Unpack(const PsdLayerChannel& channel, const PsdRect& rect, int depth) {
  if (channel.offset + channel.length > file_.size() || channel.length < 2) return false;
  const std::uint8_t* at = file_.data() + channel.offset;
  return UnpackLayerChannel(std::span(at + 2, channel.length - 2), at[0] << 8 | at[1],
                            static_cast<std::uint32_t>(rect.Height()), static_cast<std::uint32_t>(rect.Width()), depth,
                            version_, samples_);
}

}  // namespace kestrel
