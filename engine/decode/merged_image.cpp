#include "engine/decode/merged_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/colour/display_colour.h"
#include "engine/colour/display_samples.h"
#include "engine/psd/channels.h"

namespace kestrel {
namespace {

// The rows of the channels a picture needs, raw or unpacked, one at a time.
class ChannelRows {
 public:
  ChannelRows(std::span<const std::uint8_t> file, const PsdHeader& header, std::vector<int> channels)
      : file_(file), header_(header), channels_(std::move(channels)), unpacked_(channels_.size() * header.rowBytes) {}

  // Locates every needed row inside the file; false when one lies outside it.
  bool Locate() {
    const std::uint64_t dataAt = header_.imageDataOffset + 2;
    const std::uint64_t rows = std::uint64_t(header_.channels) * header_.height;
    if (header_.compression == kPsdRaw) {
      if (dataAt > file_.size() || rows * header_.rowBytes > file_.size() - dataAt) return false;
      rawAt_ = dataAt;
      return true;
    }
    if (header_.compression != kPsdRunLength) return false;
    const int entry = header_.version == 1 ? 2 : 4;
    if (dataAt > file_.size() || rows * entry > file_.size() - dataAt) return false;
    // Each needed channel's first row starts after every row before it.
    std::uint64_t at = dataAt + rows * entry;
    ByteReader table(file_, dataAt, at);
    starts_.assign(channels_.size() * header_.height, 0);
    lengths_.assign(channels_.size() * header_.height, 0);
    for (int c = 0; c < header_.channels; ++c) {
      const auto wanted = std::find(channels_.begin(), channels_.end(), c);
      for (std::uint32_t y = 0; y < header_.height; ++y) {
        const std::uint64_t length = table.Big(entry);
        if (length > file_.size() - at) return false;
        if (wanted != channels_.end()) {
          const std::size_t slot = static_cast<std::size_t>(wanted - channels_.begin()) * header_.height + y;
          starts_[slot] = at, lengths_[slot] = length;
        }
        at += length;
      }
    }
    return true;
  }

  // Row y of the i-th needed channel, or an empty span when it cannot be unpacked.
  std::span<const std::uint8_t> Row(std::size_t i, std::uint32_t y) {
    if (header_.compression == kPsdRaw) {
      const std::uint64_t at = rawAt_ + (std::uint64_t(channels_[i]) * header_.height + y) * header_.rowBytes;
      return file_.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(header_.rowBytes));
    }
    const std::size_t slot = i * header_.height + y;
    const auto packed = file_.subspan(static_cast<std::size_t>(starts_[slot]), static_cast<std::size_t>(lengths_[slot]));
    // Each channel has its own row, so the rows of one line can be used together.
    const std::span<std::uint8_t> row = std::span(unpacked_).subspan(i * header_.rowBytes, header_.rowBytes);
    if (!UnpackBits(packed, row)) return {};
    return row;
  }

 private:
  std::span<const std::uint8_t> file_;
  const PsdHeader& header_;
  std::vector<int> channels_;
  std::vector<std::uint8_t> unpacked_;
  std::uint64_t rawAt_ = 0;
  std::vector<std::uint64_t> starts_, lengths_;
};

// One channel's row as 8-bit display samples.
// A row of big-endian 16-bit samples, every `stride`th of `out`.
void SixteenBitSamples(std::span<const std::uint8_t> row, std::uint16_t* out, std::size_t stride, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    out[x * stride] = static_cast<std::uint16_t>(row[2 * x] << 8 | row[2 * x + 1]);
  }
}

void ToDisplaySamples(std::span<const std::uint8_t> row, int depth, bool coverage, std::uint8_t* out,
                      std::size_t stride, std::uint32_t width) {
  if (depth == 8) {
    for (std::uint32_t x = 0; x < width; ++x) out[x * stride] = row[x];
  } else if (depth == 16) {
    for (std::uint32_t x = 0; x < width; ++x) {
      out[x * stride] = SixteenBitsToDisplay(static_cast<std::uint16_t>(row[2 * x] << 8 | row[2 * x + 1]));
    }
  } else {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint8_t* at = row.data() + 4 * std::size_t{x};
      const std::uint32_t bits = std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
      float v;
      std::memcpy(&v, &bits, 4);
      out[x * stride] = coverage ? FloatCoverageToDisplay(v) : LinearLightToDisplay(v);
    }
  }
}

// One line of 8-bit channels shown unchanged, interleaved into the bitmap's
// row in one pass: `step` bytes per pixel, grey repeated into R, G and B.
template <int step, bool grey, bool alpha>
void InterleaveRow(const std::array<std::span<const std::uint8_t>, 4>& rows, BYTE* line, std::uint32_t width) {
  const std::uint8_t* r = rows[0].data();
  const std::uint8_t* g = rows[grey ? 0 : 1].data();
  const std::uint8_t* b = rows[grey ? 0 : 2].data();
  const std::uint8_t* a = rows[grey ? 1 : 3].data();
  for (std::uint32_t x = 0; x < width; ++x, line += step) {
    line[FI_RGBA_RED] = r[x];
    line[FI_RGBA_GREEN] = g[x];
    line[FI_RGBA_BLUE] = b[x];
    if constexpr (alpha) line[FI_RGBA_ALPHA] = a[x];
  }
}

// 8-bit grey and RGB pictures whose colours pass unchanged: the most common
// files, copied without the per-sample conversion of the general path.
bool CopyStraight(ChannelRows& rows, std::size_t needed, bool grey, FIBITMAP* image, const PsdHeader& header) {
  const std::uint32_t width = header.width;
  const bool alpha = needed > (grey ? 1u : 3u);
  std::array<std::span<const std::uint8_t>, 4> line{};
  for (std::uint32_t y = 0; y < header.height; ++y) {
    for (std::size_t c = 0; c < needed; ++c) {
      line[c] = rows.Row(c, y);
      if (line[c].empty()) return false;
    }
    BYTE* out = FreeImage_GetScanLine(image, static_cast<int>(header.height - 1 - y));
    if (grey && !alpha) {
      std::memcpy(out, line[0].data(), width);
    } else if (grey) {
      InterleaveRow<4, true, true>(line, out, width);
    } else if (alpha) {
      InterleaveRow<4, false, true>(line, out, width);
    } else {
      InterleaveRow<3, false, false>(line, out, width);
    }
  }
  return true;
}

}  // namespace

bool DecodesMergedImage(const PsdDocument& document) {
  const PsdHeader& h = document.header;
  const bool mode = h.colourMode == kPsdModeGreyscale || h.colourMode == kPsdModeRgb ||
                    h.colourMode == kPsdModeCmyk || h.colourMode == kPsdModeLab;
  const bool depth = h.depth == 8 || h.depth == 16 || h.depth == 32;
  return mode && depth && (h.compression == kPsdRaw || h.compression == kPsdRunLength) &&
         document.colourChannels > 0 && document.colourChannels == ColourChannelsOfMode(h.colourMode);
}

ImagePtr DecodeMergedImage(const PsdDocument& document) {
  if (!DecodesMergedImage(document)) return nullptr;
  const PsdHeader& header = document.header;
  const int colours = document.colourChannels;
  const bool alpha = document.transparencyChannel >= colours && document.transparencyChannel < header.channels;
  std::vector<int> needed;
  for (int c = 0; c < colours; ++c) needed.push_back(c);
  if (alpha) needed.push_back(document.transparencyChannel);
  ChannelRows rows(document.file, header, needed);
  if (!rows.Locate()) return nullptr;

  const DisplayColour colour(document);
  const int shown = colour.OutputChannels();
  const int bpp = alpha ? 32 : shown == 1 ? 8 : 24;
  const std::uint32_t width = header.width;
  ImagePtr image = Adopt(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(header.height), bpp));
  if (!image) return nullptr;
  if (bpp == 8) {
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
  }
  if (header.depth == 8 && colour.PassesThrough()) {
    if (!CopyStraight(rows, needed.size(), shown == 1, image.get(), header)) return nullptr;
    if (alpha && document.whiteMatte && CarriesWhiteMatte(image.get())) RemoveWhiteMatte(image.get());
    return image;
  }
  // Lab's 16-bit a and b are centred on 32768, which scales to 128 like the 8-bit ones.
  std::vector<std::uint8_t> samples(std::size_t{width} * colours);
  std::vector<std::uint8_t> display(std::size_t{width} * shown);
  std::vector<std::uint8_t> coverage(alpha ? width : 0);
  const bool plainFractions = header.depth == 32 && header.colourMode != kPsdModeRgb && header.colourMode != kPsdModeGreyscale;
  WhiteMatteWitness matte(header.colourMode == kPsdModeLab);
  // 16-bit samples the conversion takes as they are; the 8-bit ones then
  // serve only to see whether the picture carries a matte.
  const bool wide = header.depth == 16 && colour.TakesSixteenBits();
  std::vector<std::uint16_t> wideSamples(wide ? samples.size() : 0);
  for (std::uint32_t y = 0; y < header.height; ++y) {
    for (int c = 0; c < colours; ++c) {
      const auto row = rows.Row(static_cast<std::size_t>(c), y);
      if (row.empty()) return nullptr;
      if (wide) SixteenBitSamples(row, wideSamples.data() + c, static_cast<std::size_t>(colours), width);
      if (wide && !alpha) continue;
      // Only RGB and grey floats are linear light; other modes' floats are plain fractions.
      ToDisplaySamples(row, header.depth, plainFractions, samples.data() + c, static_cast<std::size_t>(colours), width);
    }
    if (alpha) {
      const auto row = rows.Row(static_cast<std::size_t>(colours), y);
      if (row.empty()) return nullptr;
      ToDisplaySamples(row, header.depth, true, coverage.data(), 1, width);
      for (std::uint32_t x = 0; x < width && matte.Carried(); ++x) {
        matte.See(samples.data() + std::size_t{x} * colours, colours, coverage[x]);
      }
    }
    if (wide) colour.Convert(wideSamples.data(), display.data(), width);
    else colour.Convert(samples.data(), display.data(), width);

    BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(header.height - 1 - y));
    if (bpp == 8) {
      std::memcpy(line, display.data(), width);
    } else {
      const int step = bpp / 8;
      for (std::uint32_t x = 0; x < width; ++x) {
        BYTE* p = line + std::size_t{x} * step;
        const std::uint8_t* d = display.data() + std::size_t{x} * shown;
        p[FI_RGBA_RED] = d[0];
        p[FI_RGBA_GREEN] = d[shown == 1 ? 0 : 1];
        p[FI_RGBA_BLUE] = d[shown == 1 ? 0 : 2];
        if (alpha) p[FI_RGBA_ALPHA] = coverage[x];
      }
    }
  }
  if (alpha && document.whiteMatte && matte.Carried()) RemoveWhiteMatte(image.get());
  return image;
}

}  // namespace kestrel
