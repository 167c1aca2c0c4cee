#include "engine/composite/patterns.h"

#include <algorithm>
#include <cmath>

#include "engine/composite/plane_samples.h"
#include "engine/psd/channels.h"
#include "engine/psd/layer_section.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr int kIndexedMode = 2;
constexpr int kGreyMode = 1;
constexpr int kRgbMode = 3;
constexpr int kMultichannelMode = 7;
// A pattern of more pixels than this is not drawn: its decoded samples would
// cost more memory than a layer's effects may.
constexpr std::int64_t kMostPatternPixels = std::int64_t{1} << 22;
// A pattern drawn smaller than its size keeps sums of its samples: for at most this many.
constexpr std::int64_t kMostSummedPixels = std::int64_t{1} << 20;
// Nor a pattern list of more channels than any colour mode has, by far.
constexpr std::uint32_t kMostPatternChannels = 64;

// Colour channels of a pattern's mode, or 0 for modes a pattern is not drawn in.
int ModeChannels(int mode) {
  switch (mode) {
    case kGreyMode:
    case kIndexedMode:
    case kMultichannelMode: return 1;  // read from its first channel, as grey
    case kRgbMode:
    case 9: return 3;  // Lab
    case 4: return 4;  // CMYK
    default: return 0;
  }
}

// Text as the descriptor keeps it, without the terminating zeros some writers store.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return text;
}

// One written channel of a pattern's list: its samples unpacked as stored.
struct PatternChannel {
  int depth = 8;
  std::vector<std::uint8_t> samples;
};

// The written channels of a pattern's channel list (version 3), each
// `width` x `height`; empty when the list is damaged or a channel is not of that size.
std::optional<std::vector<PatternChannel>> ReadChannelList(ByteReader& reader, std::int32_t width,
                                                           std::int32_t height) {
  if (reader.U32() != 3) return std::nullopt;
  ByteReader list = reader.Take(reader.U32());
  list.Skip(16);  // the list's bounds: each channel repeats them
  const std::uint32_t count = list.U32();
  if (!list.Ok() || count > kMostPatternChannels) return std::nullopt;
  std::vector<PatternChannel> channels;
  // The colour channels are followed by a user mask and a sheet mask.
  for (std::uint32_t i = 0; i < count + 2 && list.Left() > 0; ++i) {
    if (list.U32() == 0) continue;  // not written
    const std::uint32_t length = list.U32();
    if (length == 0) continue;
    ByteReader array = list.Take(length);
    const auto depth = static_cast<int>(array.U32());
    const std::int32_t top = array.Int32(), left = array.Int32(), bottom = array.Int32(), right = array.Int32();
    array.Skip(2);  // the depth again
    const int compression = array.Byte();
    if (!array.Ok() || !list.Ok()) return std::nullopt;
    if (std::int64_t{bottom} - top != height || std::int64_t{right} - left != width) return std::nullopt;
    if (depth != 8 && depth != 16 && depth != 32) return std::nullopt;
    PatternChannel channel{depth, {}};
    if (!UnpackLayerChannel(array.Bytes(array.Left()), compression, static_cast<std::uint32_t>(height),
                            static_cast<std::uint32_t>(width), depth, 1, channel.samples)) {
      return std::nullopt;
    }
    channels.push_back(std::move(channel));
  }
  if (!list.Ok()) return std::nullopt;
  return channels;
}

// `n` modulo `size`, never negative.
std::int64_t Wrap(std::int64_t n, std::int64_t size) {
  const std::int64_t r = n % size;
  return r < 0 ? r + size : r;
}

}  // namespace

std::optional<PatternChoice> ReadPatternChoice(const DescriptorValue& settings) {
  const DescriptorValue* pattern = settings.Find("Ptrn");
  if (pattern == nullptr || pattern->type != DescriptorValue::Type::Object) return std::nullopt;
  PatternChoice choice;
  if (const DescriptorValue* id = pattern->Find("Idnt")) choice.id = Trimmed(id->text);
  if (const DescriptorValue* name = pattern->Find("Nm  ")) choice.name = Trimmed(name->text);
  choice.scale = std::clamp(settings.NumberOr("Scl ", 100) / 100.0, 0.01, 10.0);
  if (const DescriptorValue* phase = settings.Find("phase")) {
    choice.phaseX = phase->NumberOr("Hrzn", 0);
    choice.phaseY = phase->NumberOr("Vrtc", 0);
  }
  choice.linked = settings.BooleanOr("Algn", false);
  return choice;
}

PatternLibrary::PatternLibrary(std::span<const std::uint8_t> file, const PsdHeader& header, int channels)
    : file_(file), mode_(header.colourMode), channels_(channels) {
  const ByteReader whole(file);
  for (const FileRange& block : WalkLayerSection(whole, header).patterns) AddBlock(whole.Range(block.offset, block.length));
}

void PatternLibrary::AddBlock(ByteReader data) {
  while (data.Ok() && data.Left() >= 4) {
    const std::uint32_t length = data.U32();
    ByteReader pattern = data.Take(length);
    if (!data.Ok()) return;
    data.Skip(std::min<std::uint64_t>((4 - length % 4) % 4, data.Left()));  // padded to four bytes
    const std::span<const std::uint8_t> bytes = pattern.Bytes(pattern.Left());
    ByteReader fields(bytes);
    fields.Skip(12);  // version, mode, size
    const std::uint32_t nameLength = fields.U32();
    if (!fields.Has(std::uint64_t{nameLength} * 2)) continue;
    Entry entry{{}, {}, bytes};
    entry.name = Trimmed(Utf8FromUtf16BigEndian(fields.Bytes(std::uint64_t{nameLength} * 2)));
    const std::span<const std::uint8_t> id = fields.Bytes(fields.Byte());
    if (!fields.Ok()) continue;
    entry.id.assign(id.begin(), id.end());
    entry.id = std::string(Trimmed(entry.id));
    entries_.push_back(std::move(entry));
  }
}

std::shared_ptr<const PatternTile> PatternLibrary::Find(std::string_view id, std::string_view name) const {
  id = Trimmed(id);
  name = Trimmed(name);
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < entries_.size() && !found; ++i) {
    if (!id.empty() && entries_[i].id == id) found = i;
  }
  for (std::size_t i = 0; i < entries_.size() && !found; ++i) {
    if (!name.empty() && entries_[i].name == name) found = i;
  }
  if (!found) return nullptr;
  const auto cached = decoded_.find(*found);
  if (cached != decoded_.end()) return cached->second;
  std::optional<PatternTile> tile = DecodePattern(entries_[*found].bytes, mode_, channels_);
  std::shared_ptr<const PatternTile> shared = tile ? std::make_shared<const PatternTile>(std::move(*tile)) : nullptr;
  decoded_[*found] = shared;
  return shared;
}

std::optional<PatternTile> DecodePattern(std::span<const std::uint8_t> bytes, int mode, int channels) {
  ByteReader reader(bytes);
  if (reader.U32() != 1) return std::nullopt;
  const auto patternMode = static_cast<int>(reader.U32());
  const std::int32_t height = reader.Int16();
  const std::int32_t width = reader.Int16();
  reader.Skip(std::uint64_t{reader.U32()} * 2);  // the name
  reader.Skip(reader.Byte());                    // the id
  std::span<const std::uint8_t> table;
  if (patternMode == kIndexedMode) {
    table = reader.Bytes(256 * 3);
    reader.Skip(4);
  }
  if (!reader.Ok() || width <= 0 || height <= 0 || std::int64_t{width} * height > kMostPatternPixels) return std::nullopt;
  const int stored = ModeChannels(patternMode);
  // Into the file's samples: the same mode, an indexed pattern into RGB, or
  // grey into RGB (a multichannel pattern, as the textures Photoshop ships
  // come, taken as grey).
  const bool sameMode = patternMode == mode && stored == channels;
  const bool intoRgb = mode == kRgbMode && channels == 3 &&
                       (patternMode == kIndexedMode || patternMode == kGreyMode || patternMode == kMultichannelMode);
  if (stored == 0 || !(sameMode || intoRgb)) return std::nullopt;
  const std::optional<std::vector<PatternChannel>> list = ReadChannelList(reader, width, height);
  if (!list || list->size() < static_cast<std::size_t>(stored)) return std::nullopt;

  PatternTile tile{width, height, channels, {}, {}};
  const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  tile.colour.resize(pixels * static_cast<std::uint64_t>(channels));
  for (std::uint64_t i = 0; i < pixels; ++i) {
    float* out = tile.colour.data() + i * static_cast<std::uint64_t>(channels);
    if (patternMode == kIndexedMode) {
      const std::uint8_t index = (*list)[0].samples[i];  // indexed patterns are 8-bit
      for (int c = 0; c < 3; ++c) out[c] = table[std::size_t{index} * 3 + static_cast<std::size_t>(c)] / 255.0f;
    } else if (stored == 1 && channels == 3) {
      std::fill_n(out, 3, ReadPlaneSample((*list)[0].samples.data(), i, (*list)[0].depth));
    } else {
      for (int c = 0; c < channels; ++c) {
        const PatternChannel& channel = (*list)[static_cast<std::size_t>(c)];
        out[c] = ReadPlaneSample(channel.samples.data(), i, channel.depth);
      }
    }
  }
  // The first written channel after the colour ones is the pattern's transparency.
  if (list->size() > static_cast<std::size_t>(stored)) {
    const PatternChannel& channel = (*list)[static_cast<std::size_t>(stored)];
    tile.alpha.resize(pixels);
    for (std::uint64_t i = 0; i < pixels; ++i) tile.alpha[i] = ReadPlaneSample(channel.samples.data(), i, channel.depth);
  }
  return tile;
}

PatternPainter::PatternPainter(const PatternTile& tile, double scale, double originX, double originY)
    : tile_(tile), scale_(scale), originX_(originX), originY_(originY) {
  const std::int64_t w = tile.width, h = tile.height;
  if (scale >= 1 || (w + 1) * (h + 1) > kMostSummedPixels) return;
  // Sums of the premultiplied samples over every rectangle from the tile's corner.
  const int k = tile.channels + 1;
  sums_.assign(static_cast<std::size_t>((w + 1) * (h + 1) * k), 0.0);
  for (std::int64_t y = 1; y <= h; ++y) {
    for (std::int64_t x = 1; x <= w; ++x) {
      const std::int64_t from = (y - 1) * w + (x - 1);
      const double a = tile.alpha.empty() ? 1.0 : tile.alpha[static_cast<std::size_t>(from)];
      double* out = &sums_[static_cast<std::size_t>((y * (w + 1) + x) * k)];
      const double* up = out - (w + 1) * k;
      for (int c = 0; c < k; ++c) {
        const double v = c < tile.channels ? a * tile.colour[static_cast<std::size_t>(from * tile.channels + c)] : a;
        out[c] = v + up[c] + out[c - k] - up[c - k];
      }
    }
  }
}

void PatternPainter::Integral(double x, double y, double* out) const {
  const std::int64_t w = tile_.width, h = tile_.height;
  const int k = tile_.channels + 1;
  const double qx = std::floor(x / static_cast<double>(w)), qy = std::floor(y / static_cast<double>(h));
  const double rx = x - qx * static_cast<double>(w), ry = y - qy * static_cast<double>(h);
  // The sums up to (px, py) within the tile, exact for its piecewise constant samples.
  const auto within = [&](double px, double py, int c) {
    const auto ix = std::min<std::int64_t>(static_cast<std::int64_t>(px), w - 1);
    const auto iy = std::min<std::int64_t>(static_cast<std::int64_t>(py), h - 1);
    const double fx = px - static_cast<double>(ix), fy = py - static_cast<double>(iy);
    const auto at = [&](std::int64_t sx, std::int64_t sy) { return sums_[static_cast<std::size_t>((sy * (w + 1) + sx) * k + c)]; };
    const double s00 = at(ix, iy), s10 = at(ix + 1, iy), s01 = at(ix, iy + 1), s11 = at(ix + 1, iy + 1);
    return s00 + fx * (s10 - s00) + fy * (s01 - s00) + fx * fy * (s11 - s10 - s01 + s00);
  };
  for (int c = 0; c < k; ++c) {
    out[c] = qx * qy * within(static_cast<double>(w), static_cast<double>(h), c) +
             qx * within(static_cast<double>(w), ry, c) + qy * within(rx, static_cast<double>(h), c) + within(rx, ry, c);
  }
}

void PatternPainter::Paint(const PsdRect& area, float* colour, float* opacity) const {
  const int c = tile_.channels;
  const std::int64_t w = tile_.width, h = tile_.height;
  const auto sample = [&](std::int64_t sx, std::int64_t sy) { return Wrap(sy, h) * w + Wrap(sx, w); };
  if (!sums_.empty()) {
    // Smaller: each pixel averages the part of the tile it covers.
    double corner[4][5];
    const double area1 = 1 / (scale_ * scale_) ;
    for (std::int64_t y = area.top; y < area.bottom; ++y) {
      const double y0 = (static_cast<double>(y) - originY_) / scale_, y1 = y0 + 1 / scale_;
      for (std::int64_t x = area.left; x < area.right; ++x) {
        const double x0 = (static_cast<double>(x) - originX_) / scale_, x1 = x0 + 1 / scale_;
        Integral(x0, y0, corner[0]);
        Integral(x1, y0, corner[1]);
        Integral(x0, y1, corner[2]);
        Integral(x1, y1, corner[3]);
        double mean[5] = {0, 0, 0, 0, 0};
        for (int ch = 0; ch <= c; ++ch) mean[ch] = (corner[3][ch] - corner[2][ch] - corner[1][ch] + corner[0][ch]) / area1;
        const double a = std::clamp(mean[c], 0.0, 1.0);
        for (int ch = 0; ch < c; ++ch) *colour++ = a > 0 ? static_cast<float>(std::clamp(mean[ch] / a, 0.0, 1.0)) : 0.0f;
        *opacity++ = static_cast<float>(a);
      }
    }
    return;
  }
  // The same size or larger: each pixel mixes the four samples around where it falls in the tile.
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    const double sy = (static_cast<double>(y) - originY_) / scale_;
    const double fy0 = std::floor(sy);
    const double fy = sy - fy0;
    const auto ty = static_cast<std::int64_t>(fy0);
    for (std::int64_t x = area.left; x < area.right; ++x) {
      const double sx = (static_cast<double>(x) - originX_) / scale_;
      const double fx0 = std::floor(sx);
      const double fx = sx - fx0;
      const auto tx = static_cast<std::int64_t>(fx0);
      const std::int64_t at[4] = {sample(tx, ty), sample(tx + 1, ty), sample(tx, ty + 1), sample(tx + 1, ty + 1)};
      const double weight[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
      double a = 0;
      double mix[4] = {0, 0, 0, 0};
      for (int i = 0; i < 4; ++i) {
        if (weight[i] == 0) continue;
        const double ai = tile_.alpha.empty() ? 1.0 : tile_.alpha[static_cast<std::size_t>(at[i])];
        a += weight[i] * ai;
        for (int ch = 0; ch < c; ++ch) mix[ch] += weight[i] * ai * tile_.colour[static_cast<std::size_t>(at[i] * c + ch)];
      }
      for (int ch = 0; ch < c; ++ch) *colour++ = a > 0 ? static_cast<float>(mix[ch] / a) : 0.0f;
      *opacity++ = static_cast<float>(a);
    }
  }
}

std::unique_ptr<PatternPainter> MakePatternPainter(const PatternTile& tile, const PatternChoice& choice,
                                                   PathPoint reference) {
  if (!choice.linked) reference = {};
  return std::make_unique<PatternPainter>(tile, choice.scale, reference.x + choice.phaseX, reference.y + choice.phaseY);
}

std::unique_ptr<PatternPainter> MakePatternPainter(const PatternLibrary& library, const PatternChoice& choice) {
  const std::shared_ptr<const PatternTile> tile = library.Find(choice.id, choice.name);
  return tile ? MakePatternPainter(*tile, choice) : nullptr;
}

}  // namespace kestrel
