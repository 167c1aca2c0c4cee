#include "engine/psd/layer_section.h"

#include "engine/psd/tagged_blocks.h"

namespace kestrel {
namespace {

// Whether a layer info's count, its first field, is below zero.
bool CountIsNegative(ByteReader info) { return info.Left() >= 2 && info.Int16() < 0; }

}  // namespace

PsdLayerSection WalkLayerSection(ByteReader file, const PsdHeader& header) {
  PsdLayerSection walk;
  const int lengthBytes = header.version == 2 ? 8 : 4;
  ByteReader section = file.Range(header.layerSectionOffset, header.layerSectionLength);
  if (!section.Ok()) {
    walk.problem = "the layer section runs past the end of the file";
    return walk;
  }
  if (section.Left() == 0) return walk;
  const std::uint64_t infoLength = section.Big(lengthBytes);
  walk.info = FileRange{section.At(), infoLength};
  const ByteReader info = section.Take(infoLength);
  if (!section.Ok()) {
    walk.info = {};
    walk.problem = "the layer info runs past its section";
    return walk;
  }
  walk.marksTransparency = CountIsNegative(info);
  section.Skip(section.Big(4));  // the global layer mask
  if (!section.Ok()) return walk;
  bool blockFound = false;
  ForEachTaggedBlock(section, header.version, [&](FourCC key, ByteReader data) {
    if (key == FourCC("Mtrn") || key == FourCC("Mt16") || key == FourCC("Mt32")) walk.marksTransparency = true;
    if (key == FourCC("Patt") || key == FourCC("Pat2") || key == FourCC("Pat3")) {
      walk.patterns.push_back(FileRange{data.At(), data.Left()});
    }
    if ((key == FourCC("Lr16") || key == FourCC("Lr32") || key == FourCC("Layr")) && !blockFound) {
      blockFound = true;
      walk.blockInfo = FileRange{data.At(), data.Left()};
      if (CountIsNegative(data)) walk.marksTransparency = true;
    }
    return true;
  });
  return walk;
}

std::uint32_t DeclaredLayerCount(ByteReader info) {
  if (info.Left() < 2) return 0;
  const std::int16_t count = info.Int16();
  const auto layers = static_cast<std::uint32_t>(count < 0 ? -std::int32_t{count} : count);
  return layers <= info.Left() / kSmallestLayerRecord ? layers : 0;
}

std::uint32_t CountPsdLayers(std::uint64_t fileSize, const ByteSource& read, const PsdHeader& header) {
  const ByteReader file(read, fileSize);
  const PsdLayerSection walk = WalkLayerSection(file, header);
  const std::uint32_t layers = DeclaredLayerCount(file.Range(walk.info.offset, walk.info.length));
  return layers > 0 ? layers : DeclaredLayerCount(file.Range(walk.blockInfo.offset, walk.blockInfo.length));
}

}  // namespace kestrel
