// CMYK and Lab layers are composited on the samples as the file stores them
// (CMYK as stored, where the top value is no ink; Lab with a and b centred),
// then shown through the same colour conversion the merged image goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/composite/blend_modes.h"
#include "engine/colour/display_colour.h"
#include "engine/bitmap/image.h"
#include "engine/psd/document.h"

namespace kestrel {

// Whether the file's layers are composited in its stored samples and shown
// through the display conversion (CMYK and Lab at 8 and 16 bits).
bool CompositesThroughDisplayColour(const PsdHeader& header);

// Colour channels the compositor keeps for such a file: 4 for CMYK, 3 for Lab.
int StoredColourChannels(const PsdHeader& header);

// What the colour samples of a file of `colourMode` at `depth` bits are to the blend modes.
BlendSpace BlendSpaceOf(int colourMode, int depth);

// Turns composited rows (fractions in file order, straight alpha) into 8-bit RGB.
// A partly covered pixel is mixed with blank paper in the file's own colour
// space before it is converted, as the file's merged image stores it: the
// conversion is not linear, so only that mix shows what the file shows.
class StoredColourDisplay {
 public:
  explicit StoredColourDisplay(const PsdDocument& document);
  // Writes `pixels` pixels of `colour` at coverage `alpha` to `line` as a
  // bitmap's B, G, R bytes: flattened over the paper, or with `withAlpha` the
  // coverage beside them and the colour that gives that flattened one over white.
  void Convert(const float* colour, const float* alpha, BYTE* line, std::size_t pixels, bool withAlpha);

 private:
  PsdHeader header_;
  DisplayColour display_;
  int channels_;
  float paper_[4];
  std::uint8_t samples_[4 * 256];
  std::uint8_t rgb_[3 * 256];
};

}  // namespace kestrel
