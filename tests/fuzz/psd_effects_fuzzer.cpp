// libFuzzer target for layer styles, stored patterns and adjustment layers
// inside a whole file: the input's settings blocks are placed into a small
// valid layered file, which is read and composited. The file around them is
// always well formed, so the mutations are spent on the descriptors, the
// effect and pattern readers, the adjustment readers and the drawing.
//
// Input: one byte choosing the colour mode and depth, then parts separated by
// "|fx|", each a four-letter block key and that block's data. Pattern blocks
// (Patt, Pat2, Pat3) go among the file's global blocks; an adjustment or fill
// layer's settings make a layer of their own above the others; any other
// block (a style, a knockout or blending flag) goes to a partly transparent
// layer over the opaque background.
// tests/fuzz/effect_seeds.py writes seeds in this form.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "engine/composite/adjustment_kinds.h"
#include "engine/composite/compositor.h"
#include "engine/psd/document.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWidth = 12;
constexpr std::uint32_t kHeight = 10;
constexpr std::string_view kSeparator = "|fx|";

struct Form {
  int mode;
  int depth;
  int channels;
};
constexpr std::array<Form, 6> kForms = {{{3, 8, 3}, {3, 16, 3}, {3, 32, 3}, {1, 8, 1}, {4, 8, 4}, {9, 8, 3}}};

constexpr std::array<std::string_view, 3> kPatternKeys = {"Patt", "Pat2", "Pat3"};

bool IsPatternKey(std::string_view key) {
  return std::find(kPatternKeys.begin(), kPatternKeys.end(), key) != kPatternKeys.end();
}

// An adjustment's or a fill's settings: the kinds the compositor names.
bool IsLayerKindKey(std::string_view key) {
  std::uint32_t code = 0;
  for (const char c : key) code = code << 8 | static_cast<std::uint8_t>(c);
  return kestrel::AdjustmentKindBit(kestrel::FourCC(code)) != 0;
}

void Put(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// A tagged block, its data padded to four bytes.
void PutBlock(Bytes& out, std::string_view key, std::span<const std::uint8_t> data) {
  PutText(out, "8BIM");
  PutText(out, key);
  const std::size_t padded = (data.size() + 3) / 4 * 4;
  Put(out, padded, 4);
  out.insert(out.end(), data.begin(), data.end());
  out.resize(out.size() + padded - data.size(), 0);
}

struct Block {
  std::string_view key;
  std::span<const std::uint8_t> data;
};

struct Layer {
  std::int32_t top = 0, left = 0, bottom = 0, right = 0;
  bool soft = false;  // a graded transparency channel instead of an opaque one
  std::vector<Block> blocks;
};

// One layer's record and its raw channels, colour channels first filled with a
// different ramp each, so that blends and effects see varied samples.
void PutLayer(const Layer& layer, const Form& form, Bytes& records, Bytes& pixels) {
  const std::uint32_t width = static_cast<std::uint32_t>(layer.right - layer.left);
  const std::uint32_t height = static_cast<std::uint32_t>(layer.bottom - layer.top);
  const std::size_t sampleBytes = static_cast<std::size_t>(form.depth / 8);
  for (const std::int32_t edge : {layer.top, layer.left, layer.bottom, layer.right}) {
    Put(records, static_cast<std::uint32_t>(edge), 4);
  }
  Put(records, static_cast<std::uint64_t>(form.channels + 1), 2);
  for (int channel = -1; channel < form.channels; ++channel) {
    Bytes plane;
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint32_t level = channel < 0 ? (layer.soft ? (x * 255 / width + y * 40) % 256 : 255)
                                                : (x * 23 + y * 17 + static_cast<std::uint32_t>(channel) * 80) % 256;
        if (form.depth == 32) {
          const float value = static_cast<float>(level) / 255.0f;
          std::uint32_t bits = 0;
          std::memcpy(&bits, &value, sizeof bits);
          Put(plane, bits, 4);
        } else {
          for (std::size_t b = 0; b < sampleBytes; ++b) plane.push_back(static_cast<std::uint8_t>(level));
        }
      }
    }
    Put(records, static_cast<std::uint16_t>(channel), 2);
    Put(records, plane.size() + 2, 4);
    Put(pixels, 0, 2);  // raw
    pixels.insert(pixels.end(), plane.begin(), plane.end());
  }
  PutText(records, "8BIMnorm");
  records.push_back(255);  // opacity
  records.push_back(0);    // clipping
  records.push_back(0);    // flags
  records.push_back(0);
  Bytes extra;
  Put(extra, 0, 4);  // no mask
  Put(extra, 0, 4);  // no blending ranges
  Put(extra, 0, 4);  // an empty name, padded
  for (const Block& block : layer.blocks) PutBlock(extra, block.key, block.data);
  Put(records, extra.size(), 4);
  records.insert(records.end(), extra.begin(), extra.end());
}

Bytes MakeFile(const Form& form, const std::vector<Layer>& layers, const std::vector<Block>& globals) {
  Bytes file;
  PutText(file, "8BPS");
  Put(file, 1, 2);
  Put(file, 0, 6);
  Put(file, static_cast<std::uint64_t>(form.channels), 2);
  Put(file, kHeight, 4);
  Put(file, kWidth, 4);
  Put(file, static_cast<std::uint64_t>(form.depth), 2);
  Put(file, static_cast<std::uint64_t>(form.mode), 2);
  Put(file, 0, 4);  // colour mode data
  Put(file, 0, 4);  // image resources
  Bytes records, pixels;
  for (const Layer& layer : layers) PutLayer(layer, form, records, pixels);
  Bytes info;
  Put(info, layers.size(), 2);
  info.insert(info.end(), records.begin(), records.end());
  info.insert(info.end(), pixels.begin(), pixels.end());
  if (info.size() % 2 != 0) info.push_back(0);
  Bytes section;
  Put(section, info.size(), 4);
  section.insert(section.end(), info.begin(), info.end());
  Put(section, 0, 4);  // global layer mask
  for (const Block& block : globals) PutBlock(section, block.key, block.data);
  Put(file, section.size(), 4);
  file.insert(file.end(), section.begin(), section.end());
  Put(file, 0, 2);  // a raw merged image, white
  file.resize(file.size() + std::size_t{kWidth} * kHeight * static_cast<std::size_t>(form.channels * form.depth / 8),
              0xFF);
  return file;
}

// The input's parts, each cut at the separator.
std::vector<std::span<const std::uint8_t>> Parts(std::span<const std::uint8_t> bytes) {
  std::vector<std::span<const std::uint8_t>> parts;
  const auto* separator = reinterpret_cast<const std::uint8_t*>(kSeparator.data());
  while (true) {
    const auto at = std::search(bytes.begin(), bytes.end(), separator, separator + kSeparator.size());
    parts.push_back(bytes.first(static_cast<std::size_t>(at - bytes.begin())));
    if (at == bytes.end()) return parts;
    bytes = bytes.subspan(static_cast<std::size_t>(at - bytes.begin()) + kSeparator.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Form& form = kForms[data[0] % kForms.size()];
  std::vector<Layer> layers(2);
  layers[0] = Layer{0, 0, static_cast<std::int32_t>(kHeight), static_cast<std::int32_t>(kWidth), false, {}};
  layers[1] = Layer{2, 3, 8, 10, true, {}};
  std::vector<Block> globals;
  for (const std::span<const std::uint8_t> part : Parts(std::span<const std::uint8_t>(data + 1, size - 1))) {
    if (part.size() < 4) continue;
    const Block block{std::string_view(reinterpret_cast<const char*>(part.data()), 4), part.subspan(4)};
    if (IsPatternKey(block.key)) {
      globals.push_back(block);
    } else if (IsLayerKindKey(block.key)) {
      layers.push_back(Layer{0, 0, 0, 0, false, {block}});
    } else {
      layers[1].blocks.push_back(block);
    }
  }
  const Bytes file = MakeFile(form, layers, globals);
  const kestrel::PsdHeaderCheck check = kestrel::CheckPsdHeader(file);
  if (!check.ok) __builtin_trap();  // the frame is always a valid file
  kestrel::CompositeLayers(kestrel::ReadPsdDocument(file, check.header));
  return 0;
}
