// Layer channels read a row at a time: each compression, packed here by zlib
// and by a plain PackBits writer, gives back the samples it was made from,
// and damaged data fails at the row where the damage lies, after the rows
// before it came out whole.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/psd/channels.h"
#include "engine/psd/header.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kRows = 5;
constexpr std::uint32_t kColumns = 37;

// Samples with runs and noise, so that PackBits writes both kinds of packet.
std::vector<std::uint8_t> Samples(std::uint64_t bytes) {
  std::vector<std::uint8_t> out(bytes);
  std::uint32_t state = 12345;
  for (std::uint64_t i = 0; i < bytes; ++i) {
    state = state * 1103515245u + 12345u;
    out[i] = (i / 16) % 2 == 0 ? static_cast<std::uint8_t>(i / 16) : static_cast<std::uint8_t>(state >> 16);
  }
  return out;
}

void PutCount(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// PackBits, one row at a time: runs of 3 or more repeat, the rest are literals.
std::vector<std::uint8_t> PackBits(const std::vector<std::uint8_t>& samples, std::uint64_t rowBytes, int version) {
  std::vector<std::uint8_t> counts;
  std::vector<std::uint8_t> body;
  for (std::uint64_t row = 0; row * rowBytes < samples.size(); ++row) {
    const std::uint8_t* in = samples.data() + row * rowBytes;
    const std::size_t before = body.size();
    std::uint64_t i = 0;
    while (i < rowBytes) {
      std::uint64_t run = 1;
      while (i + run < rowBytes && run < 128 && in[i + run] == in[i]) ++run;
      if (run >= 3) {
        body.push_back(static_cast<std::uint8_t>(257 - run));
        body.push_back(in[i]);
        i += run;
        continue;
      }
      std::uint64_t literal = 1;
      while (i + literal < rowBytes && literal < 128 &&
             !(i + literal + 2 < rowBytes && in[i + literal] == in[i + literal + 1] &&
               in[i + literal] == in[i + literal + 2])) {
        ++literal;
      }
      body.push_back(static_cast<std::uint8_t>(literal - 1));
      body.insert(body.end(), in + i, in + i + literal);
      i += literal;
    }
    PutCount(counts, body.size() - before, version == 2 ? 4 : 2);
  }
  counts.insert(counts.end(), body.begin(), body.end());
  return counts;
}

// Row differences as ZIP with prediction stores them: 8-bit bytes, 16-bit
// big-endian words, 32-bit rows split into byte planes then differed as bytes.
std::vector<std::uint8_t> Predict(const std::vector<std::uint8_t>& samples, std::uint64_t rowBytes, int depth) {
  std::vector<std::uint8_t> out = samples;
  for (std::uint64_t at = 0; at < out.size(); at += rowBytes) {
    std::uint8_t* row = out.data() + at;
    if (depth == 16) {
      for (std::uint64_t x = rowBytes / 2 - 1; x > 0; --x) {
        const unsigned value = (row[2 * x] << 8 | row[2 * x + 1]) - (row[2 * x - 2] << 8 | row[2 * x - 1]);
        row[2 * x] = static_cast<std::uint8_t>(value >> 8);
        row[2 * x + 1] = static_cast<std::uint8_t>(value);
      }
      continue;
    }
    if (depth == 32) {
      std::vector<std::uint8_t> planes(rowBytes);
      const std::uint64_t columns = rowBytes / 4;
      for (std::uint64_t x = 0; x < columns; ++x) {
        for (int b = 0; b < 4; ++b) planes[columns * b + x] = row[4 * x + b];
      }
      std::memcpy(row, planes.data(), rowBytes);
    }
    for (std::uint64_t i = rowBytes - 1; i > 0; --i) row[i] = static_cast<std::uint8_t>(row[i] - row[i - 1]);
  }
  return out;
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data) {
  uLongf size = compressBound(data.size());
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), data.size(), 6), Z_OK);
  out.resize(size);
  return out;
}

struct Packed {
  std::string name;
  int compression;
  int depth;
  int version;
};

std::vector<std::uint8_t> Pack(const Packed& c, const std::vector<std::uint8_t>& samples, std::uint64_t rowBytes) {
  switch (c.compression) {
    case kPsdRunLength: return PackBits(samples, rowBytes, c.version);
    case kPsdZip: return Deflate(samples);
    case kPsdZipPredicted: return Deflate(Predict(samples, rowBytes, c.depth));
    default: return samples;
  }
}

const std::vector<Packed> kCases = {
    {"raw_8", kPsdRaw, 8, 1},
    {"raw_1", kPsdRaw, 1, 1},
    {"run_length_psd", kPsdRunLength, 8, 1},
    {"run_length_psb", kPsdRunLength, 8, 2},
    {"run_length_16", kPsdRunLength, 16, 1},
    {"zip_8", kPsdZip, 8, 1},
    {"zip_32", kPsdZip, 32, 2},
    {"zip_predicted_8", kPsdZipPredicted, 8, 1},
    {"zip_predicted_16", kPsdZipPredicted, 16, 1},
    {"zip_predicted_32", kPsdZipPredicted, 32, 1},
};

TEST(LayerChannels, EachCompressionGivesBackItsSamplesRowByRow) {
  for (const Packed& c : kCases) {
    const std::uint64_t rowBytes = ChannelRowBytes(kColumns, c.depth);
    const std::vector<std::uint8_t> samples = Samples(rowBytes * kRows);
    const std::vector<std::uint8_t> packed = Pack(c, samples, rowBytes);
    LayerChannelReader reader;
    ASSERT_TRUE(reader.Open(packed, c.compression, kRows, kColumns, c.depth, c.version)) << c.name;
    ASSERT_EQ(reader.RowBytes(), rowBytes) << c.name;
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t r = 0; r < kRows; ++r) {
      ASSERT_TRUE(reader.Next(row.data())) << c.name << " row " << r;
      EXPECT_EQ(0, std::memcmp(row.data(), samples.data() + rowBytes * r, rowBytes)) << c.name << " row " << r;
    }
    EXPECT_FALSE(reader.Next(row.data())) << c.name << ": a row past the last";
    std::vector<std::uint8_t> whole;
    ASSERT_TRUE(UnpackLayerChannel(packed, c.compression, kRows, kColumns, c.depth, c.version, whole)) << c.name;
    EXPECT_EQ(whole, samples) << c.name;
  }
}

TEST(LayerChannels, CutDataFailsWhereItEndsAndNoSooner) {
  for (const Packed& c : kCases) {
    if (c.compression == kPsdRaw) continue;  // raw data must be whole to open at all
    const std::uint64_t rowBytes = ChannelRowBytes(kColumns, c.depth);
    const std::vector<std::uint8_t> samples = Samples(rowBytes * kRows);
    std::vector<std::uint8_t> packed = Pack(c, samples, rowBytes);
    // Run-length rows past the cut point beyond the data; a ZIP stream stops short.
    packed.resize(c.compression == kPsdRunLength ? packed.size() - 1 : packed.size() / 2);
    LayerChannelReader reader;
    ASSERT_TRUE(reader.Open(packed, c.compression, kRows, kColumns, c.depth, c.version)) << c.name;
    std::vector<std::uint8_t> row(rowBytes);
    std::uint32_t whole = 0;
    while (whole < kRows && reader.Next(row.data())) {
      EXPECT_EQ(0, std::memcmp(row.data(), samples.data() + rowBytes * whole, rowBytes)) << c.name;
      ++whole;
    }
    EXPECT_LT(whole, kRows) << c.name;
    if (c.compression == kPsdRunLength) {
      EXPECT_EQ(whole, kRows - 1) << c.name;
    }
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(UnpackLayerChannel(packed, c.compression, kRows, kColumns, c.depth, c.version, out)) << c.name;
  }
}

TEST(LayerChannels, ImpossibleChannelsAreRefusedBeforeAnyRow) {
  const std::vector<std::uint8_t> tiny(10, 0);
  LayerChannelReader reader;
  EXPECT_FALSE(reader.Open(tiny, kPsdRaw, kRows, kColumns, 8, 1));               // raw of the wrong size
  EXPECT_FALSE(reader.Open(tiny, kPsdRunLength, 1000, 1000, 8, 1));              // more than 128:1
  EXPECT_FALSE(reader.Open(tiny, kPsdZip, 10000, 10000, 8, 1));                  // more than zlib can reach
  EXPECT_FALSE(reader.Open(tiny, kPsdRunLength, 8, 2, 8, 1));                    // row counts past the data
  EXPECT_FALSE(reader.Open(tiny, 7, 1, 1, 8, 1));                                // unknown compression
  EXPECT_FALSE(reader.Open(tiny, kPsdZipPredicted, 1, 8, 1, 1));                 // prediction on bits
  EXPECT_FALSE(reader.Open(tiny, kPsdRaw, 1, 1, 12, 1));                         // no such depth
  std::vector<std::uint8_t> zip = Deflate(Samples(8));
  zip[0] ^= 0x0f;                                                                // not a zlib stream
  EXPECT_FALSE(reader.Open(zip, kPsdZip, 1, 8, 8, 1));
}

// Some writers end a ZIP channel without the stream's checksum: all its rows are still there.
TEST(LayerChannels, AZipChannelWithoutItsChecksumIsWhole) {
  const std::uint64_t rowBytes = ChannelRowBytes(kColumns, 8);
  const std::vector<std::uint8_t> samples = Samples(rowBytes * kRows);
  std::vector<std::uint8_t> packed = Deflate(samples);
  packed.resize(packed.size() - 4);
  std::vector<std::uint8_t> whole;
  ASSERT_TRUE(UnpackLayerChannel(packed, kPsdZip, kRows, kColumns, 8, 1, whole));
  EXPECT_EQ(whole, samples);
}

}  // namespace
}  // namespace kestrel
