// A layer's raster mask applied to coverage a row at a time. The mask is
// unpacked whole the first time a row of it is asked for, at the file's
// depth or else at 8 bits (some writers keep masks so), and kept until
// another layer's mask is asked for. Outside its rectangle the mask is its
// default colour.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/psd/layer_records.h"

namespace kestrel {

class LayerMaskCoverage {
 public:
  LayerMaskCoverage(std::span<const std::uint8_t> file, int depth, int version)
      : file_(file), fileDepth_(depth), version_(version) {}

  // Whether the layer has a raster mask that is on.
  static bool Masks(const PsdLayer& layer);

  // Multiplies `row`, columns [left, left + row.size()) of the picture's row
  // y, by the layer's mask, when it has one. False when the mask is damaged.
  bool Apply(const PsdLayer& layer, std::int64_t y, std::int64_t left, std::vector<float>& row);

 private:
  bool Unpack(const PsdLayerChannel& channel, const PsdRect& rect, int depth);

  std::span<const std::uint8_t> file_;
  int fileDepth_;
  int version_;
  const PsdLayer* owner_ = nullptr;  // whose mask `samples_` holds
  std::vector<std::uint8_t> samples_;
  int depth_ = 8;  // of `samples_`
};

}  // namespace kestrel
