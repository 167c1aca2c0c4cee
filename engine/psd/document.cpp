#include "engine/psd/document.h"

#include <algorithm>

#include "engine/psd/layer_section.h"

namespace kestrel {
int ColourChannelsOfMode(int colourMode) {
  switch (colourMode) {
    case kPsdModeBitmap:
    case kPsdModeGreyscale:
    case kPsdModeIndexed:
    case kPsdModeDuotone: return 1;
    case kPsdModeRgb:
    case kPsdModeLab: return 3;
    case kPsdModeCmyk: return 4;
    default: return 0;
  }
}

PsdDocument ReadPsdDocument(std::span<const std::uint8_t> file, const PsdHeader& header) {
  PsdDocument contents;
  contents.file = file;
  contents.header = header;
  const ByteReader bytes(file);
  contents.resources = ReadPsdResources(bytes.Range(header.resourcesOffset, header.resourcesLength).Bytes(header.resourcesLength));
  const PsdLayerSection section = WalkLayerSection(bytes, header);
  contents.layers = ReadPsdLayers(file, header, section);
  contents.realMergedImage = contents.resources.hasRealMergedData.value_or(true);
  contents.colourChannels = std::min(ColourChannelsOfMode(header.colourMode), header.channels);
  const int extra = header.channels - contents.colourChannels;
  if (contents.colourChannels == 0 || extra <= 0) return contents;

  const auto& ids = contents.resources.alphaIdentifiers;
  if (section.marksTransparency) {
    contents.transparencyChannel = contents.colourChannels;
  } else if (!ids.empty()) {
    // Identifier 0 marks transparency; the identifiers name the last channels.
    const auto zero = std::find(ids.begin(), ids.end(), 0u);
    if (zero != ids.end()) {
      const int index = header.channels - static_cast<int>(ids.size()) + static_cast<int>(zero - ids.begin());
      if (index >= contents.colourChannels) contents.transparencyChannel = index;
    }
  } else {
    // Files that describe none of their extra channels (written by other
    // programs) put transparency first, as every reader assumes.
    contents.transparencyChannel = contents.colourChannels;
  }
  contents.whiteMatte = contents.transparencyChannel >= 0;
  return contents;
}

}  // namespace kestrel
