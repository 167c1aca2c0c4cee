// Adjustment layers: what one does to the colour of everything beneath it.
// Each kind is read from its settings block into tables, one per colour
// channel, over the file's own samples (8-bit files have a table of 256
// entries, deeper ones of 65536), so that applying it is one lookup per
// sample; threshold, which looks at a pixel's luminance, is the exception.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

class ColourAdjustment {
 public:
  // Changes `pixels` pixels of `colour` (fractions, the file's colour channels
  // to a pixel, in file order) in place.
  void Apply(float* colour, std::size_t pixels) const;

 private:
  friend std::optional<ColourAdjustment> ReadColourAdjustment(std::span<const std::uint8_t>, const PsdLayer&,
                                                              const PsdHeader&);
  int channels_ = 0;
  std::vector<float> tables_[4];  // per channel; empty: the channel is left as it is
  int threshold_ = -1;            // a threshold's level (on the table's scale), or -1
};

// The adjustment a layer holds, or nothing when its kind is not drawn in the
// file's colour mode (the caller counts it as left out).
std::optional<ColourAdjustment> ReadColourAdjustment(std::span<const std::uint8_t> file, const PsdLayer& layer,
                                                     const PsdHeader& header);

}  // namespace kestrel
