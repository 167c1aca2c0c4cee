// libFuzzer target over our own code that reads untrusted bytes: the header
// check, the indexed palette, the image resources, the description of what the
// file holds, the merged-image decoder and the record the decoding child hands back.
// Build: cmake -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ (see tests/fuzz/CMakeLists.txt).
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/psd/document.h"
#include "engine/psd/header.h"
#include "engine/decode/merged_image.h"
#include "engine/decode/palette.h"
#include "engine/confine/bitmap_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const kestrel::PsdHeaderCheck check = kestrel::CheckPsdHeader(bytes);
  if (check.ok && check.header.colourDataLength == kestrel::kPsdPaletteBytes &&
      check.header.colourDataOffset + kestrel::kPsdPaletteBytes <= size) {
    const auto palette = kestrel::PaletteFromColourData(bytes.subspan(check.header.colourDataOffset,
                                                                      kestrel::kPsdPaletteBytes));
    FIBITMAP* image = FreeImage_Allocate(4, 4, 8);
    if (palette && image != nullptr) kestrel::ApplyIndexedPalette(image, *palette);
    FreeImage_Unload(image);
  }
  // Small images only, so that a run stays quick; the decoder checks every row against the file.
  if (check.ok && check.header.decodedBytes <= (1u << 20)) {
    const kestrel::PsdDocument contents = kestrel::ReadPsdDocument(bytes, check.header);
    kestrel::DecodeMergedImage(contents);
  }
  // The same bytes as a decoded-image record, for a small expected size taken from them.
  if (size >= 2) {
    const std::uint32_t width = 1 + data[0] % 64;
    const std::uint32_t height = 1 + data[1] % 64;
    kestrel::ReadDecodedImage(bytes, width, height);
  }
  return 0;
}
