// One channel of a layer's pixels, unpacked from the way the file stores it
// (raw, run-length, ZIP, or ZIP over row differences) into plain big-endian
// samples. Pure code over bytes: the output size is fixed by the caller from
// the layer's bounds, and no input can make it write or read past either end.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestrel {

// PackBits, the run-length code of Photoshop's rows: a count byte n, then
// n+1 literal bytes (n < 128) or one byte repeated 257-n times (n > 128); 128
// does nothing. Fills exactly all of `out`; false when the packed bytes end
// first or would overflow it. Bytes left over after `out` is full are ignored.
bool UnpackBits(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

// Bytes of one unpacked row.
inline std::uint64_t ChannelRowBytes(std::uint32_t columns, int depth) {
  return (std::uint64_t{columns} * static_cast<std::uint64_t>(depth) + 7) / 8;
}

// A channel unpacked one row at a time, top to bottom, so that a layer is
// drawn without holding its whole pixels: the reader keeps one inflate
// stream or a position in the data, never more than a row of output.
class LayerChannelReader {
 public:
  LayerChannelReader();
  ~LayerChannelReader();
  LayerChannelReader(LayerChannelReader&&) noexcept;
  LayerChannelReader& operator=(LayerChannelReader&&) noexcept;

  // A rows x columns channel of `depth` bits per sample (1, 8, 16 or 32),
  // rows packed with no padding. `data` is what follows the channel's
  // compression word in the file; `version` is 1 for PSD, 2 for PSB (the
  // run-length row counts are twice as wide there). False when the data
  // cannot hold a channel of that size or the compression is unknown.
  bool Open(std::span<const std::uint8_t> data, int compression, std::uint32_t rows, std::uint32_t columns,
            int depth, int version);

  // Writes the next row (RowBytes() bytes) to `out`; false when the data is
  // damaged there or every row has been read. `out` is then unspecified.
  bool Next(std::uint8_t* out);

  std::uint64_t RowBytes() const { return rowBytes_; }

 private:
  struct Inflater;
  bool NextRunLength(std::uint8_t* out);
  bool NextInflated(std::uint8_t* out);

  std::span<const std::uint8_t> data_;
  int compression_ = 0;
  std::uint32_t rows_ = 0;
  std::uint32_t columns_ = 0;
  int depth_ = 8;
  int version_ = 1;
  std::uint64_t rowBytes_ = 0;
  std::uint32_t row_ = 0;    // rows read so far
  std::uint64_t at_ = 0;     // raw and run-length: where the next row's bytes start
  std::unique_ptr<Inflater> inflater_;
};

// The whole channel at once: rows x columns as LayerChannelReader::Open
// describes. Returns false when the data is not a whole, well-formed channel
// of that size; `out` is then unspecified.
bool UnpackLayerChannel(std::span<const std::uint8_t> data, int compression, std::uint32_t rows,
                        std::uint32_t columns, int depth, int version, std::vector<std::uint8_t>& out);

}  // namespace kestrel
