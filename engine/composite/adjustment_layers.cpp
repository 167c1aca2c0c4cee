#include "engine/composite/adjustment_layers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

#include "engine/composite/adjustment_hue.h"
#include "engine/composite/adjustment_lookup.h"
#include "engine/composite/adjustment_mix.h"
#include "engine/composite/adjustment_tone.h"
#include "engine/composite/blend_modes.h"
#include "engine/composite/gradients.h"
#include "engine/composite/natural_spline.h"
#include "engine/psd/descriptor.h"
#include "platform/byte_reader.h"

namespace kestrel {
namespace {

using Table = ToneTable;

// Entries of a table: every sample an 8-bit file holds, else every 16-bit one
// (float files are looked up at 16-bit steps).
std::size_t TableSize(const PsdHeader& header) { return header.depth == 8 ? 256 : 65536; }

std::size_t IndexOf(float v, std::size_t size) {
  return static_cast<std::size_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * static_cast<float>(size - 1)));
}

// A channel's own table, then the table of all channels over its result, as
// the adjustments with a composite and per-channel settings work.
Table ThenMaster(const Table& own, const Table& master) {
  if (own.empty()) return master;
  if (master.empty()) return own;
  Table table(own.size());
  const auto last = static_cast<double>(own.size() - 1);
  for (std::size_t i = 0; i < own.size(); ++i) {
    table[i] = master[static_cast<std::size_t>(std::floor(own[i] * last + 1e-4))];
  }
  return table;
}

// Tables by channel number (0: all channels; 1.. the file's channels in order).
using ChannelTables = std::map<int, Table>;

void SetPerChannel(Table (&tables)[4], int channels, const ChannelTables& byChannel) {
  const auto master = byChannel.find(0);
  const Table none;
  for (int c = 0; c < channels; ++c) {
    const auto own = byChannel.find(c + 1);
    tables[c] = ThenMaster(own != byChannel.end() ? own->second : none,
                           master != byChannel.end() ? master->second : none);
  }
}

// Levels: per record the input black and white points, the output black and
// white points (0..255) and the gamma times 100; record 0 is the composite.
ChannelTables ReadLevels(ByteReader in, std::size_t size, int channels) {
  ChannelTables tables;
  in.Skip(2);  // version
  for (int record = 0; record <= channels && in.Has(10); ++record) {
    const double inBlack = in.U16() / 255.0, inWhite = in.U16() / 255.0;
    const double outBlack = in.U16() / 255.0, outWhite = in.U16() / 255.0;
    const double gamma = std::clamp(in.U16() / 100.0, 0.01, 9.99);
    const double span = std::abs(inWhite - inBlack) > 1e-9 ? inWhite - inBlack : 1.0;
    tables[record] = TabulateTone(size, [&](double t) {
      const double x = std::pow(std::clamp((t - inBlack) / span, 0.0, 1.0), 1 / gamma);
      return outBlack + x * (outWhite - outBlack);
    });
  }
  return tables;
}

// One curve: its points as (output, input) pairs on 0..255.
std::optional<Table> ReadCurve(ByteReader& in, std::uint16_t points, std::size_t size) {
  if (points < 2 || points > 19 || !in.Has(4u * points)) return std::nullopt;
  std::vector<double> x, y;
  for (int p = 0; p < points; ++p) {
    y.push_back(in.U16() / 255.0);
    x.push_back(in.U16() / 255.0);
  }
  for (std::size_t i = 1; i < x.size(); ++i) {
    if (!(x[i] > x[i - 1])) return std::nullopt;  // inputs must rise
  }
  const NaturalSpline spline(std::move(x), std::move(y));
  return TabulateTone(size, spline);
}

// A curve drawn freehand: its output (0..255) for each of the 256 inputs,
// read between them for deeper files.
std::optional<Table> ReadCurveMap(ByteReader& in, std::size_t size) {
  const std::span<const std::uint8_t> map = in.Bytes(256);
  if (!in.Ok()) return std::nullopt;
  return TabulateTone(size, [&](double t) {
    const double at = t * 255;
    const auto below = static_cast<std::size_t>(std::min(std::floor(at), 254.0));
    return (map[below] + (map[below + 1] - map[below]) * (at - static_cast<double>(below))) / 255.0;
  });
}

// Curves: whether the curves are drawn freehand (maps) or by points, a
// bitmap of the channels that have a curve, each curve; after them the same
// curves again by channel number ("Crv "), which win.
std::optional<ChannelTables> ReadCurves(ByteReader in, std::size_t size) {
  ChannelTables tables;
  const bool map = in.Byte() != 0;
  const std::uint16_t version = in.U16();
  const std::uint32_t bitmap = in.U32();
  if (version != 1 || !in.Ok()) return std::nullopt;
  const auto curve = [&]() { return map ? ReadCurveMap(in, size) : ReadCurve(in, in.U16(), size); };
  for (int channel = 0; channel < 32; ++channel) {
    if ((bitmap & (1u << channel)) == 0) continue;
    std::optional<Table> read = curve();
    if (!read) return std::nullopt;
    tables[channel] = std::move(*read);
  }
  if (in.Has(10) && in.Code() == FourCC("Crv ")) {
    in.Skip(2);
    const std::uint32_t count = in.U32();
    for (std::uint32_t i = 0; i < count && in.Has(4); ++i) {
      const int channel = in.U16();
      std::optional<Table> read = curve();
      if (!read) return std::nullopt;
      tables[channel] = std::move(*read);
    }
  }
  return tables;
}

// Exposure acts on light: the samples are taken to linear light through the
// usual gamma of the mode's working space (about 2.2 for sRGB, 1.75 for the
// dot-gain grey spaces), scaled and offset there, and brought back.
std::optional<Table> ReadExposure(ByteReader in, std::size_t size, bool grey) {
  in.Skip(2);  // version
  const float exposure = std::bit_cast<float>(in.U32());
  const float offset = std::bit_cast<float>(in.U32());
  const float gamma = std::bit_cast<float>(in.U32());
  if (!in.Ok() || !std::isfinite(exposure) || !std::isfinite(offset) || !std::isfinite(gamma)) return std::nullopt;
  const double space = grey ? 1.75 : 2.2;
  // Photoshop's own ranges: beyond them a huge exposure times a black sample is not a number.
  const double stops = std::clamp(static_cast<double>(exposure), -20.0, 20.0);
  const double shift = std::clamp(static_cast<double>(offset), -0.5, 0.5);
  const double g = std::clamp(static_cast<double>(gamma), 0.01, 9.99);
  return TabulateTone(size, [&](double t) {
    const double linear = std::clamp(std::pow(t, space) * std::exp2(stops) + shift, 0.0, 1.0);
    return std::pow(std::pow(linear, 1 / g), 1 / space);
  });
}

// A gradient map's gradient: its RGB colour stops (locations on 0..4096,
// midpoints in percent, 16-bit colours) and its smoothness, read as a table of
// `size` colours from the dark end to the light one.
std::optional<std::array<Table, 3>> ReadGradientMap(ByteReader in, std::size_t size) {
  const std::uint16_t version = in.U16();
  const bool reversed = in.Byte() != 0;
  in.Skip(1);  // dither
  if (version == 3) in.Skip(4);  // the interpolation method
  in.Skip(2ull * in.U32());      // the gradient's name
  Gradient gradient;
  gradient.reverse = reversed;
  gradient.ends = Gradient::Ends::Rounded;
  const std::uint16_t colours = in.U16();
  if (colours < 1 || colours > 256 || !in.Has(20ull * colours)) return std::nullopt;
  for (int i = 0; i < colours; ++i) {
    GradientStop stop;
    stop.location = in.U32() / 4096.0;
    stop.midpoint = in.U32() / 100.0;
    if (in.U16() != 0) return std::nullopt;  // only RGB stops are read
    for (int c = 0; c < 4; ++c) stop.value[c] = in.U16() / 65535.0f;
    in.Skip(2);
    gradient.colours.push_back(stop);
  }
  const std::uint16_t opacities = in.U16();
  if (!in.Has(10ull * opacities)) return std::nullopt;
  for (int i = 0; i < opacities; ++i) {
    GradientStop stop;
    stop.location = in.U32() / 4096.0;
    stop.midpoint = in.U32() / 100.0;
    stop.value[0] = in.U16() / 65535.0f;
    gradient.opacities.push_back(stop);
  }
  in.Skip(2);  // expansion
  gradient.smoothness = std::clamp(in.U16() / 4096.0, 0.0, 1.0);
  if (!in.Ok() || gradient.opacities.empty()) return std::nullopt;
  gradient.style = Gradient::Style::Linear;
  gradient.angle = 0;
  const PsdRect box{0, 0, 1, static_cast<std::int32_t>(size)};
  std::vector<float> colour(size * 3), opacity(size);
  PaintGradient(gradient, box, box, 3, colour.data(), opacity.data());
  std::array<Table, 3> tables;
  for (int c = 0; c < 3; ++c) {
    tables[c].resize(size);
    for (std::size_t i = 0; i < size; ++i) tables[c][i] = std::clamp(colour[i * 3 + c], 0.0f, 1.0f);
  }
  return tables;
}

// The descriptor block Photoshop writes right after a brightness/contrast
// block ("CgEd"), which holds the settings the older block cannot.
std::optional<DescriptorValue> FollowingSettings(std::span<const std::uint8_t> file, const PsdBlockRef& block) {
  const std::uint64_t end = block.offset + block.length;
  for (std::uint64_t at = end; at < end + 4 && at + 12 <= file.size(); ++at) {
    ByteReader in(file, at, file.size());
    if (in.Code() != FourCC("8BIM") || in.Code() != FourCC("CgEd")) continue;
    const std::uint64_t length = in.U32();
    if (!in.Has(length)) return std::nullopt;
    return ReadVersionedDescriptor(file.subspan(in.At(), length), 0);
  }
  return std::nullopt;
}

BrightnessContrast ReadBrightnessContrast(std::span<const std::uint8_t> file, const PsdBlockRef& block) {
  BrightnessContrast settings;
  if (const std::optional<DescriptorValue> current = FollowingSettings(file, block)) {
    settings.brightness = current->NumberOr("Brgh", 0);
    settings.contrast = current->NumberOr("Cntr", 0);
    settings.mean = current->NumberOr("means", 127);
    settings.legacy = current->BooleanOr("useLegacy", false);
    return settings;
  }
  // Files older than the current formula hold their legacy settings here.
  ByteReader in(file, block.offset, block.offset + block.length);
  settings.brightness = in.Int16();
  settings.contrast = in.Int16();
  settings.mean = in.U16();
  settings.legacy = true;
  return settings;
}

// The kinds Photoshop applies to CMYK too, channel by channel.
bool AppliedToCmyk(FourCC key) {
  for (const FourCC kind : {FourCC("nvrt"), FourCC("post"), FourCC("levl"), FourCC("curv"), FourCC("brit"), FourCC("thrs")}) {
    if (kind == key) return true;
  }
  return false;
}

}  // namespace

std::optional<ColourAdjustment> ReadColourAdjustment(std::span<const std::uint8_t> file, const PsdLayer& layer,
                                                     const PsdHeader& header, const DescriptorColours& colours) {
  const PsdBlockRef& block = layer.adjustment;
  if (!block.Present()) return std::nullopt;
  const bool light = header.colourMode == kPsdModeRgb || header.colourMode == kPsdModeGreyscale ||
                     header.colourMode == kPsdModeDuotone;
  const bool cmyk = header.colourMode == kPsdModeCmyk && AppliedToCmyk(block.key);
  // Lab is inverted as stored: a and b are centred, so they turn to the opposite colour.
  const bool lab = header.colourMode == kPsdModeLab && block.key == FourCC("nvrt");
  if (!light && !cmyk && !lab) return std::nullopt;
  const int channels = header.colourMode == kPsdModeRgb || lab ? 3 : header.colourMode == kPsdModeCmyk ? 4 : 1;
  std::optional<ColourAdjustment> adjustment = ColourAdjustment::ReadOnLight(file, block, channels, TableSize(header), colours);
  // Levels, curves and brightness/contrast act on the stored CMYK samples as
  // they are; so does posterize at 8 bits, but at 16 it bands the ink, which
  // the samples hold inverted (as Photoshop's pictures show): its table is
  // turned round.
  if (adjustment && cmyk && block.key == FourCC("post") && header.depth == 16) {
    for (Table& table : adjustment->tables_) {
      std::reverse(table.begin(), table.end());
      for (float& v : table) v = 1 - v;
    }
  }
  return adjustment;
}

std::optional<ColourAdjustment> ColourAdjustment::ReadOnLight(std::span<const std::uint8_t> file,
                                                              const PsdBlockRef& block, int channels,
                                                              std::size_t size, const DescriptorColours& colours) {
  ByteReader in(file, block.offset, block.offset + block.length);
  ColourAdjustment adjustment;
  adjustment.channels_ = channels;
  const FourCC key = block.key;
  if (key == FourCC("nvrt")) {
    for (int c = 0; c < channels; ++c) adjustment.tables_[c] = TabulateTone(size, [](double t) { return 1 - t; });
    return adjustment;
  }
  if (key == FourCC("post")) {
    const double levels = std::clamp<int>(in.U16(), 2, 255);
    if (!in.Ok()) return std::nullopt;
    // Photoshop's bands: the top one is no wider than the others.
    const double squeeze = static_cast<double>(size - 1) / static_cast<double>(size);
    for (int c = 0; c < channels; ++c) {
      adjustment.tables_[c] = TabulateTone(size, [&](double t) { return std::floor(squeeze * t * levels) / (levels - 1); });
    }
    return adjustment;
  }
  if (key == FourCC("brit")) {
    const ToneTable table = BrightnessContrastTable(ReadBrightnessContrast(file, block), size);
    for (int c = 0; c < channels; ++c) adjustment.tables_[c] = table;
    return adjustment;
  }
  if (key == FourCC("blnc") && channels == 3) {
    std::optional<std::array<ToneTable, 3>> tables = ReadColourBalance(in, size);
    if (!tables) return std::nullopt;
    for (int c = 0; c < 3; ++c) adjustment.tables_[c] = std::move((*tables)[c]);
    return adjustment;
  }
  // Older files hold hue/saturation as "hue ", in the same form.
  const bool hue = key == FourCC("hue2") || key == FourCC("hue ");
  const bool mixing = key == FourCC("selc") || key == FourCC("mixr") || hue || key == FourCC("phfl");
  if (mixing && channels == 3) {
    std::optional<PixelMix> mix = key == FourCC("selc")   ? ReadSelectiveColour(in)
                                  : key == FourCC("mixr") ? ReadChannelMixer(in)
                                  : key == FourCC("phfl") ? ReadPhotoFilter(in, colours)
                                                          : ReadHueSaturation(in);
    if (!mix) return std::nullopt;
    adjustment.mix_ = std::move(*mix);
    return adjustment;
  }
  if (key == FourCC("thrs")) {
    const int level = in.U16();
    if (!in.Ok()) return std::nullopt;
    const double last = static_cast<double>(size - 1);
    adjustment.levels_ = size;
    adjustment.threshold_ = static_cast<int>(std::floor((level - 1 / 255.0) * (last / size) * (last / 255.0)));
    return adjustment;
  }
  if (key == FourCC("levl")) {
    SetPerChannel(adjustment.tables_, channels, ReadLevels(in, size, channels));
    return adjustment;
  }
  if (key == FourCC("curv")) {
    const std::optional<ChannelTables> curves = ReadCurves(in, size);
    if (!curves) return std::nullopt;
    SetPerChannel(adjustment.tables_, channels, *curves);
    return adjustment;
  }
  if (key == FourCC("vibA") && channels == 3) {
    const std::optional<DescriptorValue> settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 0);
    if (!settings) return std::nullopt;
    adjustment.mix_ = ReadVibrance(*settings);
    return adjustment;
  }
  if (key == FourCC("clrL") && channels == 3) {
    // A version word comes before the descriptor.
    const std::optional<DescriptorValue> settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 2);
    std::optional<PixelMix> lookup = settings ? ReadColourLookup(*settings) : std::nullopt;
    if (!lookup) return std::nullopt;
    adjustment.mix_ = std::move(*lookup);
    return adjustment;
  }
  if (key == FourCC("blwh") && channels == 3) {
    const std::optional<DescriptorValue> settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 0);
    if (!settings) return std::nullopt;
    if (settings->BooleanOr("useTint", false)) {
      const DescriptorValue* tint = settings->Find("tintColor");
      float rgb[4] = {};
      if (tint == nullptr || colours.Channels() != 3 || !colours.Read(*tint, rgb)) return std::nullopt;
      adjustment.SetTint(rgb, size);
    }
    for (const char* hue : {"Rd  ", "Yllw", "Grn ", "Cyn ", "Bl  ", "Mgnt"}) {
      const DescriptorValue* weight = settings->Find(hue);
      if (weight == nullptr) return std::nullopt;
      adjustment.hueWeights_.push_back(static_cast<float>(settings->NumberOr(hue, 0) / 100));
    }
    return adjustment;
  }
  if (key == FourCC("grdm") && channels == 3) {
    std::optional<std::array<Table, 3>> tables = ReadGradientMap(in, size);
    if (!tables) return std::nullopt;
    for (int c = 0; c < 3; ++c) adjustment.tables_[c] = std::move((*tables)[c]);
    adjustment.byLuminance_ = true;
    return adjustment;
  }
  if (key == FourCC("expA")) {
    std::optional<Table> table = ReadExposure(in, size, channels == 1);
    if (!table) return std::nullopt;
    for (int c = 0; c < channels; ++c) adjustment.tables_[c] = *table;
    return adjustment;
  }
  return std::nullopt;
}

void ColourAdjustment::SetTint(const float* rgb, std::size_t size) {
  std::vector<float> greys(size * 3), alpha(size, 1.0f), tint(size * 3), coverage(size, 1.0f);
  for (std::size_t i = 0; i < size; ++i) {
    for (int c = 0; c < 3; ++c) {
      greys[i * 3 + c] = static_cast<float>(i) / static_cast<float>(size - 1);
      tint[i * 3 + c] = rgb[c];
    }
  }
  BlendPixels(BlendMode::Colour, 3, greys.data(), alpha.data(), tint.data(), coverage.data(), size);
  for (int c = 0; c < 3; ++c) {
    tables_[c].resize(size);
    for (std::size_t i = 0; i < size; ++i) tables_[c][i] = greys[i * 3 + c];
  }
}

void ColourAdjustment::ApplyThreshold(float* colour, std::size_t pixels) const {
  const int n = channels_;
  const auto last = static_cast<float>(levels_ - 1);
  for (std::size_t x = 0; x < pixels; ++x) {
    float* p = colour + x * n;
    float luminance = p[0];
    if (n == 3) luminance = 0.3f * p[0] + 0.59f * p[1] + 0.11f * p[2];
    // CMYK's light: each ink's stored sample (no ink at the top) under the black's.
    if (n == 4) luminance = (0.3f * p[0] + 0.59f * p[1] + 0.11f * p[2]) * p[3];
    const float v = std::lround(std::clamp(luminance, 0.0f, 1.0f) * last) > threshold_ ? 1.0f : 0.0f;
    for (int c = 0; c < n; ++c) p[c] = v;
    // CMYK's black is the black ink alone.
    if (n == 4) p[0] = p[1] = p[2] = 1;
  }
}

// The grey of an RGB pixel: its smallest channel, the step to the middle one
// weighted by the hue the two largest make together (yellow, cyan or
// magenta), and the step to the largest weighted by that channel's own hue.
// A tint gives the grey its colour and keeps its luminosity, as the tint
// colour laid over it in colour mode would.
void ColourAdjustment::ApplyBlackAndWhite(float* colour, std::size_t pixels) const {
  enum { kRed, kYellow, kGreen, kCyan, kBlue, kMagenta };
  for (std::size_t x = 0; x < pixels; ++x) {
    float* p = colour + x * 3;
    const float r = p[0], g = p[1], b = p[2];
    int largest = 0, middle = 1, smallest = 2;
    const float v[3] = {r, g, b};
    if (v[middle] > v[largest]) std::swap(middle, largest);
    if (v[smallest] > v[middle]) std::swap(smallest, middle);
    if (v[middle] > v[largest]) std::swap(middle, largest);
    const int primary = largest == 0 ? kRed : largest == 1 ? kGreen : kBlue;
    const int pair = largest + middle;  // 1: red and green, 2: red and blue, 3: green and blue
    const int secondary = pair == 1 ? kYellow : pair == 2 ? kMagenta : kCyan;
    const float grey = v[smallest] + (v[middle] - v[smallest]) * hueWeights_[secondary] +
                       (v[largest] - v[middle]) * hueWeights_[primary];
    p[0] = p[1] = p[2] = std::clamp(grey, 0.0f, 1.0f);
    if (tables_[0].empty()) continue;
    const std::size_t at = IndexOf(p[0], tables_[0].size());
    for (int c = 0; c < 3; ++c) p[c] = tables_[c][at];
  }
}

void ColourAdjustment::ApplyByLuminance(float* colour, std::size_t pixels) const {
  const std::size_t size = tables_[0].size();
  for (std::size_t x = 0; x < pixels; ++x) {
    float* p = colour + x * 3;
    const std::size_t at = IndexOf(0.3f * p[0] + 0.59f * p[1] + 0.11f * p[2], size);
    for (int c = 0; c < 3; ++c) p[c] = tables_[c][at];
  }
}

void ColourAdjustment::Apply(float* colour, std::size_t pixels) const {
  const int n = channels_;
  if (threshold_ >= 0) return ApplyThreshold(colour, pixels);
  if (byLuminance_) return ApplyByLuminance(colour, pixels);
  if (!hueWeights_.empty()) return ApplyBlackAndWhite(colour, pixels);
  if (mix_) return mix_(colour, pixels);
  for (int c = 0; c < n; ++c) {
    const Table& table = tables_[c];
    if (table.empty()) continue;
    const std::size_t size = table.size();
    for (std::size_t x = 0; x < pixels; ++x) {
      float& v = colour[x * n + c];
      v = table[IndexOf(v, size)];
    }
  }
}

}  // namespace kestrel
