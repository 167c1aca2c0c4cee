// What a Photoshop file holds, told without converting it: its size, mode
// and channels, its resolution and colour profile, whether its merged image
// is real, its layers as a flat list in file order, and what a conversion
// would do with them. The confined child gathers the facts from the document
// it read and sends them back as a bounded record; the parent reads that
// record without trusting it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/confine/bitmap_record.h"
#include "engine/psd/document.h"

namespace kestrel {

struct ChannelFacts {
  std::int64_t index = 0;  // among all the file's channels
  std::string kind;        // "transparency", "alpha", "inverted alpha", "spot"
  std::string name;
};

struct EffectFacts {
  std::string kind;  // "drop shadow", "stroke", ... (see kEffectNames)
  bool enabled = false;
  bool drawn = false;  // the compositor draws it
};

struct LayerFacts {
  std::int64_t index = 0;   // the record's place in the file, 0 the bottom one
  std::int64_t parent = -1; // the index of the group that holds it, -1 at the top
  std::string name;
  std::string kind;  // "pixel", "group", "type", "shape", "smart object", "fill", "adjustment"
  std::string blendMode;  // the file's four-character key ("norm", "mul ", "pass")
  std::int64_t opacity = 255;
  std::int64_t fillOpacity = 255;
  bool visible = true;
  bool clipping = false;
  std::string mask;        // "" none, "enabled" or "disabled": the raster mask
  std::string vectorMask;  // the same for the vector mask
  bool effectsEnabled = false;  // the style's master switch
  std::vector<EffectFacts> effects;
  std::int64_t top = 0, left = 0, bottom = 0, right = 0;
};

struct FileFacts {
  std::string format;  // "PSD" or "PSB"
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::string colourMode;  // "RGB", "CMYK", "Greyscale", ...
  std::int64_t depth = 0;
  std::int64_t channels = 0;
  std::vector<ChannelFacts> extraChannels;
  double resolutionX = 0;  // pixels per inch; 0 when the file does not say
  double resolutionY = 0;
  std::string profile;     // the embedded colour profile's description; "" when none
  bool hasProfile = false;
  bool realMergedImage = true;
  std::string layerProblem;  // why the layer section could not be read
  std::vector<LayerFacts> layers;
  // What a conversion would take: "merged image" or "layers"; and what of
  // the layers it would leave out, one line each.
  std::string picture;
  std::vector<std::string> notDrawn;
};

// The facts of the document, in the confined child.
FileFacts GatherFileFacts(const PsdDocument& document);

// The record the child writes, at most kMaxFactsBytes long.
bool WriteFileFacts(int output, const FileFacts& facts);
// The parent's side: nothing when the record is not what it should be.
std::optional<FileFacts> ReadFileFacts(const RecordSource& source);

inline constexpr std::uint32_t kMaxFactsBytes = 16u << 20;

// The name of a colour mode of the file's header.
std::string ColourModeName(int mode);

}  // namespace kestrel
