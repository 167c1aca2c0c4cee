// A Photoshop file read once, in the confined decoder: its checked header,
// the image resources that say what the pixels mean, the layer records with
// where their channels lie, and what the file really holds: which of its
// channels carry colour and which one, if any, is transparency, whether the
// merged image is matted against white. The merged-image decoder, the
// compositor and the colour conversion all take it from here, rather than
// reading the file again or guessing from channel counts.
#pragma once

#include <cstdint>
#include <span>

#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "engine/psd/resources.h"

namespace kestrel {

struct PsdDocument {
  std::span<const std::uint8_t> file;  // all of its bytes, which outlive the document
  PsdHeader header;
  PsdResources resources;
  PsdLayers layers;
  int colourChannels = 0;  // channels that make the colour: 1 grey, 3 RGB or Lab, 4 CMYK
  // The channel that is transparency, counted among all the file's channels;
  // -1 when none is. Other extra channels (saved selections, spot colours) are not.
  int transparencyChannel = -1;
  // The merged image's colours may have been blended over white where
  // transparent; its decoder looks whether they were.
  bool whiteMatte = false;
  // The merged image is the picture itself, not a placeholder.
  bool realMergedImage = true;
};

// Channels of colour in a Photoshop colour mode (0 for modes without a fixed count).
int ColourChannelsOfMode(int colourMode);

// Reads the file whose bytes are `file` and whose checked header is `header`.
PsdDocument ReadPsdDocument(std::span<const std::uint8_t> file, const PsdHeader& header);

}  // namespace kestrel
