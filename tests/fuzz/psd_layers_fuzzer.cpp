// libFuzzer target for the layer reader and the compositor: any bytes that
// pass the header check are read as layers and composited. Every length and
// count in them comes from the input, so this is where a missed bound shows.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/composite/compositor.h"
#include "engine/psd/document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const kestrel::PsdHeaderCheck check = kestrel::CheckPsdHeader(bytes);
  if (!check.ok) return 0;
  // Pictures beyond 4 megapixels only cost the fuzzer time.
  if (std::uint64_t{check.header.width} * check.header.height > (4u << 20)) return 0;
  kestrel::CompositeLayers(kestrel::ReadPsdDocument(bytes, check.header));
  return 0;
}
