// libFuzzer target over our own code that reads untrusted picture bytes: the
// watermark picture's header check and, for a header it passes, the record
// the confined picture decoder hands back, read for the size the header declared.
// Build: cmake -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ (see tests/fuzz/CMakeLists.txt).
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/confine/picture_header.h"
#include "engine/confine/bitmap_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const kestrel::PictureHeaderCheck check = kestrel::CheckPictureHeader(bytes);
  if (check.ok && check.header.width <= 256 && check.header.height <= 256) {
    kestrel::ReadDecodedImage(bytes, check.header.width, check.header.height);
  }
  return 0;
}
