#include "engine/decode/psd_decode.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "engine/confine/untrusted_file.h"
#include "engine/decode/memory_need.h"
#include "engine/decode/merged_image.h"
#include "engine/decode/palette.h"
#include "engine/psd/document.h"

namespace kestrel {
namespace {

// An indexed file's palette comes from its colour mode data, whatever FreeImage made of it.
void MendIndexedPalette(int fd, std::uint64_t size, const std::uint8_t* mapped, const PsdHeader& header,
                        FIBITMAP* image) {
  if (image == nullptr || header.colourMode != kPsdModeIndexed || header.colourDataLength != kPsdPaletteBytes) return;
  const ByteSource source = mapped != nullptr ? SourceOf(std::span(mapped, size)) : SourceOfFile(fd);
  ByteReader in(source, size, header.colourDataOffset);
  std::vector<std::uint8_t> colourData(kPsdPaletteBytes);
  if (!in.Copy(colourData.data(), colourData.size())) return;
  if (const auto palette = PaletteFromColourData(colourData)) ApplyIndexedPalette(image, *palette);
}

}  // namespace

DecodedPsd DecodePsd(int fd, std::uint64_t size, const std::uint8_t* mapped, int flags, const PsdHeader& header,
                     std::uint64_t compositorRoom) {
  DecodedPsd decoded;
  std::optional<PsdDocument> document;
  if (mapped != nullptr) document = ReadPsdDocument(std::span(mapped, size), header);
  if (document && !document->realMergedImage && !document->layers.layers.empty()) {
    const std::uint64_t need = CompositorBytes(header, document->layers.layers);
    if (need > compositorRoom) {
      constexpr std::uint64_t kMiB = 1ull << 20;
      decoded.note.compositorMiBNeeded = static_cast<std::uint32_t>(std::min<std::uint64_t>((need + kMiB - 1) / kMiB, UINT32_MAX));
      return decoded;
    }
  }
  if (document && flags == PSD_DEFAULT && DecodesMergedImage(*document)) {
    decoded.image = DecodeMergedImage(*document).release();
  } else {
    decoded.image = DecodeFromFd(FIF_PSD, fd, size, mapped, flags);
  }
  if (document) decoded.image = ChoosePicture(decoded.image, *document, decoded.note, decoded.why);
  MendIndexedPalette(fd, size, mapped, header, decoded.image);
  return decoded;
}

}  // namespace kestrel
