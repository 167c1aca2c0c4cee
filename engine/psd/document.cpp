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
  PsdDocument document;
  document.file = file;
  document.header = header;
  const ByteReader bytes(file);
  ByteReader resources = bytes.Range(header.resourcesOffset, header.resourcesLength);
  document.resources = ReadPsdResources(resources.Bytes(header.resourcesLength));
  const PsdLayerSection section = WalkLayerSection(bytes, header);
  document.layers = ReadPsdLayers(file, header, section);
  document.realMergedImage = document.resources.hasRealMergedData.value_or(true);
  document.colourChannels = std::min(ColourChannelsOfMode(header.colourMode), header.channels);
  const int extra = header.channels - document.colourChannels;
  if (document.colourChannels == 0 || extra <= 0) return document;

  const auto& ids = document.resources.alphaIdentifiers;
  if (section.marksTransparency) {
    document.transparencyChannel = document.colourChannels;
  } else if (!ids.empty()) {
    // Identifier 0 marks transparency; the identifiers name the last channels.
    const auto zero = std::find(ids.begin(), ids.end(), 0u);
    if (zero != ids.end()) {
      const int index = header.channels - static_cast<int>(ids.size()) + static_cast<int>(zero - ids.begin());
      if (index >= document.colourChannels) document.transparencyChannel = index;
    }
  } else {
    // Files that describe none of their extra channels (written by other
    // programs) put transparency first, as every reader assumes.
    document.transparencyChannel = document.colourChannels;
  }
  document.whiteMatte = document.transparencyChannel >= 0;
  return document;
}

}  // namespace kestrel
