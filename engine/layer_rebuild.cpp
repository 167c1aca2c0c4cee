#include "engine/layer_rebuild.h"

#include "engine/layer_composite.h"
#include "engine/psd_layers.h"

namespace kestrel {
namespace {

std::uint64_t BigEndian(const std::uint8_t* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

std::string Count(std::uint32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool MergedImageIsPlaceholder(std::span<const std::uint8_t> file, const PsdHeader& header) {
  // The image resources: "8BIM", id, padded Pascal name, length, padded data.
  std::uint64_t at = header.colourDataOffset + header.colourDataLength;
  if (at > file.size() || file.size() - at < 4) return false;
  const std::uint64_t end = at + 4 + BigEndian(file.data() + at, 4);
  if (end > file.size()) return false;
  at += 4;
  while (end - at >= 12) {
    const std::uint8_t* p = file.data() + at;
    if (BigEndian(p, 4) != BlendKey("8BIM")) return false;
    const std::uint64_t id = BigEndian(p + 4, 2);
    const std::uint64_t nameBytes = (std::uint64_t{p[6]} + 2) / 2 * 2;
    if (end - at < 6 + nameBytes + 4) return false;
    const std::uint64_t length = BigEndian(p + 6 + nameBytes, 4);
    const std::uint64_t data = at + 6 + nameBytes + 4;
    if (length > end - data) return false;
    // Version info: a version word, then the hasRealMergedData byte.
    if (id == 1057) return length >= 5 && file[data + 4] == 0;
    at = data + (length + 1) / 2 * 2;
  }
  return false;
}

FIBITMAP* ChoosePicture(FIBITMAP* merged, std::span<const std::uint8_t> file, const PsdHeader& header,
                        LayerRebuildNote& note, std::string& why) {
  if (merged != nullptr && !MergedImageIsPlaceholder(file, header)) return merged;
  const PsdLayers layers = ReadPsdLayers(file, header);
  if (layers.layers.empty()) {
    why = layers.problem;
    return merged;
  }
  LayerComposite composite = CompositeLayers(file, header, layers);
  if (!composite.image) {
    why = composite.problem;
    return merged;
  }
  if (merged != nullptr) FreeImage_Unload(merged);
  note.rebuilt = 1;
  note.layers = static_cast<std::uint32_t>(composite.layersDrawn);
  note.effectsSkipped = static_cast<std::uint32_t>(composite.effectsSkipped);
  note.adjustmentsSkipped = static_cast<std::uint32_t>(composite.adjustmentsSkipped);
  return composite.image.release();
}

std::string DescribeRebuild(const LayerRebuildNote& note) {
  std::string line = "the picture was rebuilt from " + Count(note.layers, "layer", "layers");
  if (note.effectsSkipped > 0 || note.adjustmentsSkipped > 0) {
    line += " (";
    if (note.effectsSkipped > 0) line += Count(note.effectsSkipped, "layer style", "layer styles");
    if (note.effectsSkipped > 0 && note.adjustmentsSkipped > 0) line += " and ";
    if (note.adjustmentsSkipped > 0) {
      line += Count(note.adjustmentsSkipped, "adjustment or fill layer", "adjustment or fill layers");
    }
    line += " not drawn)";
  }
  return line;
}

}  // namespace kestrel
