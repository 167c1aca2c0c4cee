#include "engine/layer_channels.h"

#include <zlib.h>

#include <cstring>

#include "engine/psd_header.h"

namespace kestrel {
namespace {

// PackBits: a count byte n, then n+1 literal bytes (n < 128) or one byte
// repeated 257-n times (n > 128); 128 does nothing.
bool UnpackBitsRow(std::span<const std::uint8_t> in, std::uint8_t* out, std::uint64_t size) {
  std::size_t at = 0;
  std::uint64_t filled = 0;
  while (filled < size && at < in.size()) {
    const std::uint8_t n = in[at++];
    if (n < 128) {
      const std::uint64_t count = n + 1u;
      if (count > in.size() - at || count > size - filled) return false;
      std::memcpy(out + filled, in.data() + at, count);
      at += count;
      filled += count;
    } else if (n > 128) {
      const std::uint64_t count = 257u - n;
      if (at >= in.size() || count > size - filled) return false;
      std::memset(out + filled, in[at++], count);
      filled += count;
    }
  }
  return filled == size;
}

bool UnpackRunLength(std::span<const std::uint8_t> data, std::uint32_t rows, std::uint64_t rowBytes, int version,
                     std::uint8_t* out) {
  const std::uint64_t countBytes = version == 2 ? 4 : 2;
  if (countBytes * rows > data.size()) return false;
  std::uint64_t at = countBytes * rows;
  for (std::uint32_t row = 0; row < rows; ++row) {
    const std::uint8_t* c = data.data() + countBytes * row;
    const std::uint64_t length = version == 2 ? (std::uint64_t{c[0]} << 24 | c[1] << 16 | c[2] << 8 | c[3])
                                              : (std::uint64_t{c[0]} << 8 | c[1]);
    if (length > data.size() - at) return false;
    if (!UnpackBitsRow(data.subspan(at, length), out + rowBytes * row, rowBytes)) return false;
    at += length;
  }
  return true;
}

bool Inflate(std::span<const std::uint8_t> data, std::uint8_t* out, std::uint64_t size) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(data.data());
  std::uint64_t inLeft = data.size();
  std::uint64_t outLeft = size;
  stream.next_out = out;
  int status = Z_OK;
  // zlib counts in 32 bits: feed both sides in slices.
  while (status == Z_OK) {
    const uInt inStep = static_cast<uInt>(inLeft < (1u << 30) ? inLeft : (1u << 30));
    const uInt outStep = static_cast<uInt>(outLeft < (1u << 30) ? outLeft : (1u << 30));
    stream.avail_in = inStep;
    stream.avail_out = outStep;
    if (inStep == 0 || outStep == 0) break;
    status = inflate(&stream, Z_NO_FLUSH);
    inLeft -= inStep - stream.avail_in;
    outLeft -= outStep - stream.avail_out;
  }
  inflateEnd(&stream);
  // Some writers end the stream without its checksum: a full output is enough.
  return outLeft == 0 && (status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR);
}

// Undoes the row differences of ZIP-with-prediction data in place. 16-bit
// samples differ as big-endian words; 32-bit rows hold the samples' bytes in
// four planes (all first bytes, then all second bytes...) differed as bytes.
void UndoPrediction(std::uint8_t* rows, std::uint32_t rowCount, std::uint32_t columns, int depth,
                    std::uint64_t rowBytes) {
  std::vector<std::uint8_t> planes(depth == 32 ? rowBytes : 0);
  for (std::uint32_t r = 0; r < rowCount; ++r) {
    std::uint8_t* row = rows + rowBytes * r;
    if (depth == 16) {
      for (std::uint32_t x = 1; x < columns; ++x) {
        const unsigned previous = row[2 * x - 2] << 8 | row[2 * x - 1];
        const unsigned value = (previous + (row[2 * x] << 8 | row[2 * x + 1])) & 0xffff;
        row[2 * x] = static_cast<std::uint8_t>(value >> 8);
        row[2 * x + 1] = static_cast<std::uint8_t>(value);
      }
    } else {
      for (std::uint64_t i = 1; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - 1]);
      if (depth == 32) {
        for (std::uint32_t x = 0; x < columns; ++x) {
          for (int b = 0; b < 4; ++b) planes[4ull * x + b] = row[std::uint64_t{columns} * b + x];
        }
        std::memcpy(row, planes.data(), rowBytes);
      }
    }
  }
}

}  // namespace

bool UnpackLayerChannel(std::span<const std::uint8_t> data, int compression, std::uint32_t rows,
                        std::uint32_t columns, int depth, int version, std::vector<std::uint8_t>& out) {
  if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;
  const std::uint64_t rowBytes = ChannelRowBytes(columns, depth);
  const std::uint64_t size = rowBytes * rows;
  // Run-length data holds at least one byte per 128 output bytes and ZIP
  // seldom beats 1:1032; anything more would be a bomb or a lie.
  if (compression == kPsdRaw && size != data.size()) return false;
  if (compression == kPsdRunLength && size / 128 > data.size()) return false;
  if ((compression == kPsdZip || compression == kPsdZipPredicted) && size / 1032 > data.size() + 64) return false;
  out.resize(size);
  if (size == 0) return true;
  switch (compression) {
    case kPsdRaw: std::memcpy(out.data(), data.data(), size); return true;
    case kPsdRunLength: return UnpackRunLength(data, rows, rowBytes, version, out.data());
    case kPsdZip: return Inflate(data, out.data(), size);
    case kPsdZipPredicted:
      if (depth == 1 || !Inflate(data, out.data(), size)) return false;
      UndoPrediction(out.data(), rows, columns, depth, rowBytes);
      return true;
    default: return false;
  }
}

}  // namespace kestrel
