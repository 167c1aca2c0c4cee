// Layers are composited on the samples as the file stores them (CMYK as
// stored, where the top value is no ink; Lab with a and b centred), then shown
// through the same colour conversion, with the file's profile, that the merged
// image goes through: so a document looks the same whether it was saved with
// its merged image or rebuilt from its layers.
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

// Whether the finished picture goes through the display conversion: CMYK and
// Lab always, grey and RGB at 8 and 16 bits when the file's profile changes
// their colours (float samples are linear light, which the profile does not describe).
bool ShowsThroughDisplayColour(const PsdDocument& document);

// What the colour samples of a file of `colourMode` at `depth` bits are to the blend modes.
BlendSpace BlendSpaceOf(int colourMode, int depth);

// Turns composited rows (fractions in file order, straight alpha) into 8-bit
// display samples: grey for a grey file, else RGB.
// A partly covered pixel is mixed with blank paper in the file's own colour
// space before it is converted, as the file's merged image stores it: the
// conversion is not linear, so only that mix shows what the file shows.
class StoredColourDisplay {
 public:
  explicit StoredColourDisplay(const PsdDocument& document);
  // Channels written per pixel without alpha: 1 for grey, else 3.
  int OutputChannels() const { return display_.OutputChannels(); }
  // Writes `pixels` pixels of `colour` at coverage `alpha` to `line`, as grey
  // bytes or a bitmap's B, G, R bytes, flattened over the paper; or with
  // `withAlpha` as B, G, R, A: the coverage beside the colour that gives that
  // flattened one over white.
  void Convert(const float* colour, const float* alpha, BYTE* line, std::size_t pixels, bool withAlpha);

 private:
  PsdHeader header_;
  DisplayColour display_;
  int channels_;
  float paper_[4];
  std::uint8_t samples_[4 * 256];
  std::uint16_t wideSamples_[4 * 256];  // for a conversion that takes 16 bits
  std::uint8_t shown_[3 * 256];
};

}  // namespace kestrel
