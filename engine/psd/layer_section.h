// The layer and mask information section, walked once: where its layer info
// lies (the layer count, the records and the channel data) and what it says
// of the merged image's transparency. The info is in the section itself or,
// in 16- and 32-bit files, in an Lr16, Lr32 or Layr block after the global
// mask. The parent walks it by position before the decoder starts (to know
// what compositing may cost); the decoder walks it over the mapped file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/psd/header.h"
#include "platform/byte_reader.h"

namespace kestrel {

// Where some bytes of the file lie.
struct FileRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct PsdLayerSection {
  FileRange info;       // the section's own layer info; empty when it has none
  FileRange blockInfo;  // the layer info of an Lr16, Lr32 or Layr block; empty when none
  // A layer count below zero, or a merged-transparency block (Mtrn, Mt16,
  // Mt32): the merged image's first extra channel is its transparency.
  bool marksTransparency = false;
  std::vector<FileRange> patterns;  // the data of its Patt, Pat2 and Pat3 blocks: the file's stored patterns
  std::string problem;  // why the section could not be walked; empty when it could
};

// Walks the layer section that `header` locates in `file` (all of the file's bytes).
PsdLayerSection WalkLayerSection(ByteReader file, const PsdHeader& header);

// The number of records a layer info declares (its count without sign); 0
// when the count is missing or records that many could not fit in it.
std::uint32_t DeclaredLayerCount(ByteReader info);

// The number of layer records the file declares, read through `read`
// without reading the records: what compositing them may cost is known
// before the decoder starts.
std::uint32_t CountPsdLayers(std::uint64_t fileSize, const ByteSource& read, const PsdHeader& header);

// The smallest layer record: bounds, no channels, blend fields and empty extra data.
inline constexpr std::uint64_t kSmallestLayerRecord = 34;

}  // namespace kestrel
