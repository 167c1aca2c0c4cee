#include "engine/composite/layer_rows.h"

#include <algorithm>

#include "engine/composite/plane_samples.h"

namespace kestrel {
namespace {

inline float Sample16(const std::uint8_t* data, std::uint64_t index) {
  return (data[2 * index] << 8 | data[2 * index + 1]) * (1.0f / 65535);
}

}  // namespace

bool LayerRows::Open(std::span<const std::uint8_t> file, const PsdLayer& layer, int channels, int depth,
                     int version) {
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
    currentRows_[slot].resize(readers_[slot].RowBytes());
    stored_[slot] = true;
  }
  return true;
}

void LayerRows::OpenFill(std::unique_ptr<FillPainter> fill, int channels, int depth) {
  Reset(fill->Rect(), channels, depth);
  fill_ = std::move(fill);
  const auto rowBytes = static_cast<std::size_t>(ChannelRowBytes(static_cast<std::uint32_t>(rect_.Width()), depth_));
  for (std::size_t slot = 0; slot < currentRows_.size(); ++slot) {
    currentRows_[slot].resize(rowBytes);
    stored_[slot] = true;
    fillRows_.push_back(currentRows_[slot].data());
  }
}

void LayerRows::PaintOverlays(const LayerStyle& style, const PsdRect& picture, float fillOpacity) {
  painter_.emplace(style, rect_, picture, depth_, channels_, fillOpacity);
  // The painter wants every channel's row: a missing colour channel's starts as zeros.
  const auto rowBytes = static_cast<std::size_t>(ChannelRowBytes(static_cast<std::uint32_t>(rect_.Width()), depth_));
  for (std::size_t slot = 0; slot < currentRows_.size(); ++slot) {
    if (!stored_[slot]) currentRows_[slot].assign(rowBytes, 0);
    paintedRows_.push_back(currentRows_[slot].data());
  }
}

bool LayerRows::Row(std::int64_t y, std::int64_t left, std::int64_t right, float* colour, float* alpha) {
  if (!Advance(y)) return false;
  Alpha(left, right, alpha);
  for (int slot = 1; slot <= channels_; ++slot) Colour(slot, left, right, colour);
  return true;
}

bool LayerRows::Advance(std::int64_t y) {
  while (rowsRead_ <= y - rect_.top) {
    if (fill_) {
      // A fill's rows passed over cost nothing: only the current one is painted.
      if (rowsRead_ == y - rect_.top) fill_->PaintRow(y, fillRows_.data());
    } else {
      for (std::size_t slot = 0; slot < readers_.size(); ++slot) {
        if (stored_[slot] && !readers_[slot].Next(currentRows_[slot].data())) return false;
      }
    }
    // Rows passed over are never shown: only the current one is painted.
    if (painter_ && rowsRead_ == y - rect_.top) {
      for (std::size_t slot = 0; slot < currentRows_.size(); ++slot) {
        if (!stored_[slot]) {
          FillPlane(currentRows_[slot].data(), static_cast<std::uint64_t>(rect_.Width()), depth_,
                    slot == 0 ? 1.0f : 0.0f);
        }
      }
      painter_->PaintRow(y, paintedRows_.data());
    }
    ++rowsRead_;
  }
  return true;
}

void LayerRows::Alpha(std::int64_t left, std::int64_t right, float* alpha) const {
  const auto start = static_cast<std::uint64_t>(left - rect_.left);
  const auto count = static_cast<std::size_t>(right - left);
  const std::uint8_t* row = currentRows_[0].data();
  if (!HasRow(0)) {
    std::fill_n(alpha, count, 1.0f);
  } else if (depth_ == 8) {
    for (std::size_t x = 0; x < count; ++x) alpha[x] = row[start + x] * (1.0f / 255);
  } else if (depth_ == 16) {
    for (std::size_t x = 0; x < count; ++x) alpha[x] = Sample16(row, start + x);
  } else {
    for (std::size_t x = 0; x < count; ++x) alpha[x] = std::clamp(ReadPlaneSample(row, start + x, depth_), 0.0f, 1.0f);
  }
}

const std::uint8_t* LayerRows::Bytes(int c, std::int64_t left) const {
  const auto slot = static_cast<std::size_t>(c + 1);
  return HasRow(slot) ? currentRows_[slot].data() + (left - rect_.left) : zeroRow_.data();
}

void LayerRows::Reset(const PsdRect& rect, int channels, int depth) {
  rect_ = rect;
  depth_ = depth;
  channels_ = channels;
  rowsRead_ = 0;
  fill_.reset();
  fillRows_.clear();
  readers_.clear();
  readers_.resize(static_cast<std::size_t>(channels + 1));
  stored_.assign(static_cast<std::size_t>(channels + 1), false);
  painter_.reset();
  paintedRows_.clear();
  currentRows_.resize(static_cast<std::size_t>(channels + 1));
  // A layer's bounds come from the file and may be far wider than anything read.
  const auto columns = static_cast<std::uint32_t>(std::clamp<std::int64_t>(widest_, 0, rect_.Width()));
  zeroRow_.assign(static_cast<std::size_t>(ChannelRowBytes(columns, depth)), 0);
}

void LayerRows::Colour(int slot, std::int64_t left, std::int64_t right, float* colour) const {
  const auto start = static_cast<std::uint64_t>(left - rect_.left);
  const auto count = static_cast<std::size_t>(right - left);
  const int n = channels_;
  float* to = colour + (slot - 1);
  if (!HasRow(static_cast<std::size_t>(slot))) {
    for (std::size_t x = 0; x < count; ++x) to[x * n] = 0.0f;
    return;
  }
  const std::uint8_t* row = currentRows_[static_cast<std::size_t>(slot)].data();
  if (depth_ == 8) {
    for (std::size_t x = 0; x < count; ++x) to[x * n] = row[start + x] * (1.0f / 255);
  } else if (depth_ == 16) {
    for (std::size_t x = 0; x < count; ++x) to[x * n] = Sample16(row, start + x);
  } else {
    for (std::size_t x = 0; x < count; ++x) to[x * n] = ReadPlaneSample(row, start + x, depth_);
  }
}

}  // namespace kestrel
