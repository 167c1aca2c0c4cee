// CMYK and Lab layers are composited on the samples as the file stores them
// (CMYK as stored, where the top value is no ink; Lab with a and b centred),
// then shown through the same colour conversion the merged image goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/display_colour.h"
#include "engine/psd_header.h"

namespace kestrel {

// Whether the file's layers are composited in its stored samples and shown
// through the display conversion (CMYK and Lab at 8 and 16 bits).
bool CompositesThroughDisplayColour(const PsdHeader& header);

// Colour channels the compositor keeps for such a file: 4 for CMYK, 3 for Lab.
int StoredColourChannels(const PsdHeader& header);

// Turns composited rows (fractions in file order, straight alpha) into 8-bit RGB.
class StoredColourDisplay {
 public:
  StoredColourDisplay(std::span<const std::uint8_t> file, const PsdHeader& header);
  // Mattes `pixels` pixels of `colour` over blank paper by `alpha`, and writes
  // R, G, B bytes to `rgb`.
  void Convert(const float* colour, const float* alpha, std::uint8_t* rgb, std::size_t pixels);

 private:
  PsdHeader header_;
  DisplayColour display_;
  int channels_;
  float paper_[4];
  std::uint8_t samples_[4 * 256];
};

}  // namespace kestrel
