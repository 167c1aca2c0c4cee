#include "engine/psd/document.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

std::uint64_t Big(std::span<const std::uint8_t> bytes, std::uint64_t at, int n) {
  std::uint64_t value = 0;
  for (int i = 0; i < n; ++i) value = value << 8 | bytes[at + i];
  return value;
}

// Tagged blocks whose length field is 8 bytes long in a large document.
bool LongLengthKey(const std::uint8_t* key) {
  static const char* const kKeys[] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn",
                                      "Alph", "FMsk", "lnk2", "FEid", "FXid", "PxSD"};
  for (const char* k : kKeys) {
    if (std::memcmp(key, k, 4) == 0) return true;
  }
  return false;
}

// What the layer section says of the merged image's transparency: a negative
// layer count, or a block that marks the merged transparency (Mtrn, Mt16, Mt32).
bool LayerSectionMarksTransparency(std::span<const std::uint8_t> file, const PsdHeader& header) {
  const int lengthBytes = header.version == 1 ? 4 : 8;
  // Locate the layer section: after the colour data and the image resources.
  std::uint64_t at = header.colourDataOffset + header.colourDataLength;
  if (at > file.size() || file.size() - at < 4) return false;
  at += 4 + Big(file, at, 4);
  if (at > file.size() || file.size() - at < static_cast<std::uint64_t>(lengthBytes)) return false;
  const std::uint64_t sectionLength = Big(file, at, lengthBytes);
  at += lengthBytes;
  if (sectionLength > file.size() - at) return false;
  const std::uint64_t end = at + sectionLength;

  // Layer info: its length, then a signed layer count.
  if (end - at < static_cast<std::uint64_t>(lengthBytes)) return false;
  const std::uint64_t infoLength = Big(file, at, lengthBytes);
  at += lengthBytes;
  if (infoLength > end - at) return false;
  if (infoLength >= 2 && static_cast<std::int16_t>(Big(file, at, 2)) < 0) return true;
  at += infoLength;
  // The global mask info.
  if (end - at < 4) return false;
  const std::uint64_t maskLength = Big(file, at, 4);
  at += 4;
  if (maskLength > end - at) return false;
  at += maskLength;
  // Tagged blocks, each padded to an even (or four-byte) length.
  while (end - at >= 12) {
    const std::uint8_t* signature = file.data() + at;
    if (std::memcmp(signature, "8BIM", 4) != 0 && std::memcmp(signature, "8B64", 4) != 0) break;
    const std::uint8_t* key = signature + 4;
    if (std::memcmp(key, "Mtrn", 4) == 0 || std::memcmp(key, "Mt16", 4) == 0 || std::memcmp(key, "Mt32", 4) == 0) {
      return true;
    }
    const int keyLengthBytes = header.version == 2 && LongLengthKey(key) ? 8 : 4;
    at += 8;
    if (end - at < static_cast<std::uint64_t>(keyLengthBytes)) break;
    const std::uint64_t length = Big(file, at, keyLengthBytes);
    at += keyLengthBytes;
    // Layer records of 16- and 32-bit files live in Lr16/Lr32: their count's sign counts too.
    if ((std::memcmp(key, "Lr16", 4) == 0 || std::memcmp(key, "Lr32", 4) == 0) && length >= 2 && end - at >= 2 &&
        static_cast<std::int16_t>(Big(file, at, 2)) < 0) {
      return true;
    }
    if (length > end - at) break;
    at += length;
    at += std::min<std::uint64_t>((4 - length % 4) % 4, end - at);
  }
  return false;
}

}  // namespace

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
  contents.layers = ReadPsdLayers(file, header);
  if (auto resources = ReadPsdResourcesOfFile(file)) contents.resources = std::move(*resources);
  contents.realMergedImage = contents.resources.hasRealMergedData.value_or(true);
  contents.colourChannels = std::min(ColourChannelsOfMode(header.colourMode), header.channels);
  const int extra = header.channels - contents.colourChannels;
  if (contents.colourChannels == 0 || extra <= 0) return contents;

  const auto& ids = contents.resources.alphaIdentifiers;
  if (LayerSectionMarksTransparency(file, header)) {
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
