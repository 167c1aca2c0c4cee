// A layer's channels read a row at a time as the layer is drawn, top to
// bottom: from the channels the file stores, or painted from the settings of
// a fill layer. Only the current row of each channel
// is held. The layer's colour and gradient overlays, when asked for, are
// painted on each row as it becomes the current one. A missing colour
// channel reads as 0, missing transparency as opaque.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/composite/fill_layers.h"
#include "engine/composite/layer_effects.h"
#include "engine/psd/channels.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

class LayerRows {
 public:
  // No row read is wider than `widest` columns (the picture).
  explicit LayerRows(std::int64_t widest) : widest_(widest) {}

  // The layer's stored channels, `channels` colour ones at `depth` bits.
  // False when a channel's data cannot be that of the layer's bounds.
  bool Open(std::span<const std::uint8_t> file, const PsdLayer& layer, int channels, int depth, int version);
  // A fill layer's rows, as `fill` paints them over its bounds.
  void OpenFill(std::unique_ptr<FillPainter> fill, int channels, int depth);
  // Paints `style`'s overlays on each current row from now on (`style` must
  // outlive the rows); `picture` is the whole picture, for gradients laid
  // over it. The layer's fill opacity is then in the rows' transparency.
  void PaintOverlays(const LayerStyle& style, const PsdRect& picture, float fillOpacity);

  const PsdRect& Rect() const { return rect_; }

  // Row y, columns [left, right) of the picture, which lie within the layer,
  // as fractions; y never goes back. False when the data is damaged on the way there.
  bool Row(std::int64_t y, std::int64_t left, std::int64_t right, float* colour, float* alpha);
  // Makes row y the current row; false when the data is damaged on the way there.
  bool Advance(std::int64_t y);
  // The current row's transparency as coverage.
  void Alpha(std::int64_t left, std::int64_t right, float* alpha) const;
  // The current row's 8-bit samples of colour channel c from picture column
  // `left` (zeros when the layer has no such channel).
  const std::uint8_t* Bytes(int c, std::int64_t left) const;

 private:
  // Whether the channel has a current row: one the layer stores, or one the overlays paint.
  bool HasRow(std::size_t slot) const { return stored_[slot] || painter_.has_value(); }
  void Reset(const PsdRect& rect, int channels, int depth);
  void Colour(int slot, std::int64_t left, std::int64_t right, float* colour) const;

  std::int64_t widest_;
  PsdRect rect_;
  int depth_ = 8;
  int channels_ = 0;
  std::int64_t rowsRead_ = 0;
  // Per slot: transparency, then each colour channel.
  std::vector<LayerChannelReader> readers_;
  std::vector<std::vector<std::uint8_t>> currentRows_;
  std::vector<bool> stored_;  // the channel has data of the layer's (or a plane)
  std::unique_ptr<FillPainter> fill_;  // paints every channel's row, for a fill layer
  std::vector<std::uint8_t*> fillRows_;  // the current rows, for fill_
  std::vector<std::uint8_t> zeroRow_;  // the row of a missing channel
  std::optional<OverlayPainter> painter_;
  std::vector<std::uint8_t*> paintedRows_;  // the current rows, for the painter
};

}  // namespace kestrel
