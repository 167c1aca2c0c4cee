#include "engine/psd/channels.h"

#include <zlib.h>

#include <cstring>

#include "engine/psd/header.h"

namespace kestrel {
namespace {

// Undoes the differences of one row of ZIP-with-prediction data in place.
// 16-bit samples differ as big-endian words; 32-bit rows hold the samples'
// bytes in four planes (all first bytes, then all second bytes...) differed
// as bytes.
void UndoPrediction(std::uint8_t* row, std::uint32_t columns, int depth, std::uint64_t rowBytes,
                    std::vector<std::uint8_t>& planes) {
  if (depth == 16) {
    unsigned value = columns > 0 ? (row[0] << 8 | row[1]) : 0;
    for (std::uint32_t x = 1; x < columns; ++x) {
      value = (value + (row[2 * x] << 8 | row[2 * x + 1])) & 0xffff;
      row[2 * x] = static_cast<std::uint8_t>(value >> 8);
      row[2 * x + 1] = static_cast<std::uint8_t>(value);
    }
    return;
  }
  for (std::uint64_t i = 1; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - 1]);
  if (depth == 32) {
    planes.resize(rowBytes);
    for (std::uint32_t x = 0; x < columns; ++x) {
      for (int b = 0; b < 4; ++b) planes[4ull * x + b] = row[std::uint64_t{columns} * b + x];
    }
    std::memcpy(row, planes.data(), rowBytes);
  }
}

// zlib counts in 32 bits: input is fed in slices of at most this.
constexpr std::uint64_t kInflateSlice = 1u << 30;

}  // namespace

bool UnpackBits(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  std::size_t at = 0;
  std::size_t filled = 0;
  while (filled < out.size() && at < in.size()) {
    const std::uint8_t n = in[at++];
    if (n < 128) {
      const std::size_t count = n + 1u;
      if (count > in.size() - at || count > out.size() - filled) return false;
      std::memcpy(out.data() + filled, in.data() + at, count);
      at += count;
      filled += count;
    } else if (n > 128) {
      const std::size_t count = 257u - n;
      if (at >= in.size() || count > out.size() - filled) return false;
      std::memset(out.data() + filled, in[at++], count);
      filled += count;
    }
  }
  return filled == out.size();
}

struct LayerChannelReader::Inflater {
  z_stream stream{};
  bool open = false;
  std::vector<std::uint8_t> planes;  // a 32-bit row regrouped from its byte planes
  ~Inflater() {
    if (open) inflateEnd(&stream);
  }
};

LayerChannelReader::LayerChannelReader() = default;
LayerChannelReader::~LayerChannelReader() = default;
LayerChannelReader::LayerChannelReader(LayerChannelReader&&) noexcept = default;
LayerChannelReader& LayerChannelReader::operator=(LayerChannelReader&&) noexcept = default;

bool LayerChannelReader::Open(std::span<const std::uint8_t> data, int compression, std::uint32_t rows,
                              std::uint32_t columns, int depth, int version) {
  inflater_.reset();
  data_ = data;
  compression_ = compression;
  rows_ = rows;
  columns_ = columns;
  depth_ = depth;
  version_ = version;
  row_ = 0;
  at_ = 0;
  if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;
  rowBytes_ = ChannelRowBytes(columns, depth);
  const std::uint64_t size = rowBytes_ * rows;
  // Run-length data holds at least one byte per 128 output bytes and ZIP
  // seldom beats 1:1032; anything more would be a bomb or a lie.
  if (compression == kPsdRaw && size != data.size()) return false;
  if (compression == kPsdRunLength && size / 128 > data.size()) return false;
  if ((compression == kPsdZip || compression == kPsdZipPredicted) && size / 1032 > data.size() + 64) return false;
  if (size == 0) return true;
  switch (compression) {
    case kPsdRaw: return true;
    case kPsdRunLength: {
      const std::uint64_t countBytes = version == 2 ? 4 : 2;
      if (countBytes * rows > data.size()) return false;
      at_ = countBytes * rows;
      return true;
    }
    case kPsdZipPredicted:
      if (depth == 1) return false;
      [[fallthrough]];
    case kPsdZip: {
      // The zlib header is checked here and the deflate data inflated raw: the
      // trailing checksum, which some writers leave out, is never needed (a
      // channel is whole when all its rows are), and not computing it saves
      // a pass over every sample.
      if (data.size() < 2 || (data[0] & 0x0f) != Z_DEFLATED || (data[0] >> 4) > 7 || (data[1] & 0x20) != 0 ||
          (data[0] << 8 | data[1]) % 31 != 0) {
        return false;
      }
      inflater_ = std::make_unique<Inflater>();
      if (inflateInit2(&inflater_->stream, -MAX_WBITS) != Z_OK) return false;
      inflater_->open = true;
      inflater_->stream.next_in = const_cast<Bytef*>(data.data() + 2);
      return true;
    }
    default: return false;
  }
}

bool LayerChannelReader::Next(std::uint8_t* out) {
  if (row_ >= rows_) return false;
  bool made = rowBytes_ == 0;
  if (!made) {
    switch (compression_) {
      case kPsdRaw:
        std::memcpy(out, data_.data() + rowBytes_ * row_, rowBytes_);
        made = true;
        break;
      case kPsdRunLength: made = NextRunLength(out); break;
      case kPsdZip:
      case kPsdZipPredicted: made = NextInflated(out); break;
      default: break;
    }
  }
  if (!made) return false;
  ++row_;
  return true;
}

bool LayerChannelReader::NextRunLength(std::uint8_t* out) {
  const std::uint64_t countBytes = version_ == 2 ? 4 : 2;
  const std::uint8_t* c = data_.data() + countBytes * row_;
  const std::uint64_t length = version_ == 2 ? (std::uint64_t{c[0]} << 24 | c[1] << 16 | c[2] << 8 | c[3])
                                             : (std::uint64_t{c[0]} << 8 | c[1]);
  if (length > data_.size() - at_) return false;
  if (!UnpackBits(data_.subspan(at_, length), std::span(out, rowBytes_))) return false;
  at_ += length;
  return true;
}

bool LayerChannelReader::NextInflated(std::uint8_t* out) {
  if (!inflater_ || !inflater_->open) return false;
  z_stream& stream = inflater_->stream;
  const std::uint8_t* end = data_.data() + data_.size();
  std::uint64_t outLeft = rowBytes_;
  stream.next_out = out;
  while (outLeft > 0) {
    if (stream.avail_in == 0) {
      const auto left = static_cast<std::uint64_t>(end - stream.next_in);
      if (left == 0) return false;
      stream.avail_in = static_cast<uInt>(left < kInflateSlice ? left : kInflateSlice);
    }
    const auto outStep = static_cast<uInt>(outLeft < kInflateSlice ? outLeft : kInflateSlice);
    stream.avail_out = outStep;
    const uInt inBefore = stream.avail_in;
    const int status = inflate(&stream, Z_NO_FLUSH);
    const uInt made = outStep - stream.avail_out;
    outLeft -= made;
    // A stream that ends early, is damaged, or stops moving is not a whole channel.
    // Some writers end it without its checksum: a full output is enough.
    if (status == Z_STREAM_END) {
      if (outLeft > 0) return false;
      break;
    }
    if (status != Z_OK && status != Z_BUF_ERROR) return false;
    if (made == 0 && stream.avail_in == inBefore) return false;
  }
  if (compression_ == kPsdZipPredicted) UndoPrediction(out, columns_, depth_, rowBytes_, inflater_->planes);
  return true;
}

bool UnpackLayerChannel(std::span<const std::uint8_t> data, int compression, std::uint32_t rows,
                        std::uint32_t columns, int depth, int version, std::vector<std::uint8_t>& out) {
  LayerChannelReader reader;
  if (!reader.Open(data, compression, rows, columns, depth, version)) return false;
  out.resize(reader.RowBytes() * rows);
  if (out.empty()) return true;
  for (std::uint32_t row = 0; row < rows; ++row) {
    if (!reader.Next(out.data() + reader.RowBytes() * row)) return false;
  }
  return true;
}

}  // namespace kestrel
