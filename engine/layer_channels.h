// One channel of a layer's pixels, unpacked from the way the file stores it
// (raw, run-length, ZIP, or ZIP over row differences) into plain big-endian
// samples. Pure code over bytes: the output size is fixed by the caller from
// the layer's bounds, and no input can make it write or read past either end.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

// The bytes of a rows x columns channel of `depth` bits per sample (1, 8, 16
// or 32), rows packed with no padding. `data` is what follows the channel's
// compression word in the file; `version` is 1 for PSD, 2 for PSB (the
// run-length row counts are twice as wide there). Returns false when the data
// is not a whole, well-formed channel of that size; `out` is then unspecified.
bool UnpackLayerChannel(std::span<const std::uint8_t> data, int compression, std::uint32_t rows,
                        std::uint32_t columns, int depth, int version, std::vector<std::uint8_t>& out);

// Bytes of one unpacked row.
inline std::uint64_t ChannelRowBytes(std::uint32_t columns, int depth) {
  return (std::uint64_t{columns} * static_cast<std::uint64_t>(depth) + 7) / 8;
}

}  // namespace kestrel
