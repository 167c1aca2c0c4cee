// Colour lookup: every RGB pixel looked up in a three-dimensional table of
// colours. A layer carries its table as the text of the .cube file it was
// made from; a table kept only as a profile, or in another format, is not read.
#pragma once

#include <optional>
#include <string_view>

#include "engine/composite/adjustment_mix.h"
#include "engine/psd/descriptor.h"

namespace kestrel {

// The table of a .cube file's text: its size (LUT_3D_SIZE), an optional
// domain (DOMAIN_MIN, DOMAIN_MAX) and one line of red, green and blue per
// entry, red changing fastest. Empty for text that is not such a table.
struct CubeTable {
  int size = 0;
  float low[3] = {0, 0, 0}, high[3] = {1, 1, 1};
  std::vector<float> colours;  // size^3 entries of three fractions
};
std::optional<CubeTable> ReadCube(std::string_view text);

// The layer's settings: a .cube table ("LUTFormatCUBE") in "LUT3DFileData".
std::optional<PixelMix> ReadColourLookup(const DescriptorValue& settings);

}  // namespace kestrel
