// What a Photoshop file really holds: its mode and depth, which of its
// channels carry colour and which one, if any, is transparency, whether the
// merged image is matted against white, and the colour profile it was made
// in. Built from the header, the image resources and the layer section, in
// the confined decoder; every step that turns the file's samples into a
// picture asks this description rather than guessing from channel counts.
#pragma once

#include <cstdint>
#include <span>

#include "engine/psd/header.h"
#include "engine/psd/resources.h"

namespace kestrel {

struct PsdContents {
  PsdHeader header;
  PsdResources resources;
  int colourChannels = 0;  // channels that make the colour: 1 grey, 3 RGB or Lab, 4 CMYK
  // The channel that is transparency, counted among all the file's channels;
  // -1 when none is. Other extra channels (saved selections, spot colours) are not.
  int transparencyChannel = -1;
  // The merged image's colours were blended over white where transparent.
  bool whiteMatte = false;
  // The merged image is the picture itself, not a placeholder.
  bool realMergedImage = true;
};

// Channels of colour in a Photoshop colour mode (0 for modes without a fixed count).
int ColourChannelsOfMode(int colourMode);

// Describes the file whose bytes are `file` and whose checked header is `header`.
PsdContents DescribePsdContents(std::span<const std::uint8_t> file, const PsdHeader& header);

}  // namespace kestrel
