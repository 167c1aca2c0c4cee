#include "engine/decode/file_facts.h"

#include <lcms2.h>

#include <array>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "engine/composite/compositor.h"
#include "engine/psd/descriptor.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrel {
namespace {

struct ModeName {
  int mode;
  const char* name;
};
constexpr std::array<ModeName, 8> kModeNames{{{kPsdModeBitmap, "Bitmap"},
                                              {kPsdModeGreyscale, "Greyscale"},
                                              {kPsdModeIndexed, "Indexed"},
                                              {kPsdModeRgb, "RGB"},
                                              {kPsdModeCmyk, "CMYK"},
                                              {kPsdModeMultichannel, "Multichannel"},
                                              {kPsdModeDuotone, "Duotone"},
                                              {kPsdModeLab, "Lab"}}};

// The effects of a layer style by the class key of their descriptors; the
// compositor draws the overlays of colour and gradient.
struct EffectName {
  std::string_view key;
  const char* name;
  bool drawn;
};
constexpr std::array<EffectName, 10> kEffectNames{{{"DrSh", "drop shadow", false},
                                                   {"IrSh", "inner shadow", false},
                                                   {"OrGl", "outer glow", false},
                                                   {"IrGl", "inner glow", false},
                                                   {"ebbl", "bevel and emboss", false},
                                                   {"ChFX", "satin", false},
                                                   {"SoFi", "colour overlay", true},
                                                   {"GrFl", "gradient overlay", true},
                                                   {"patternFill", "pattern overlay", false},
                                                   {"FrFX", "stroke", false}}};

std::string ProfileDescription(const std::vector<std::uint8_t>& icc) {
  using Profile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;
  const Profile profile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())), &cmsCloseProfile);
  if (!profile) return {};
  char text[256] = {};
  cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text);
  return OneLineOfText(std::string(text, strnlen(text, sizeof text)));
}

std::string ChannelKind(const PsdDocument& document, int channel) {
  if (channel == document.transparencyChannel) return "transparency";
  const std::size_t extra = static_cast<std::size_t>(channel - document.colourChannels);
  const auto& display = document.resources.channelDisplay;
  const int kind = extra < display.size() ? display[extra].kind : -1;
  if (kind == 1) return "inverted alpha";
  if (kind == 2) return "spot";
  return "alpha";
}

std::string LayerKind(const PsdLayer& layer) {
  if (layer.section == PsdSection::OpenFolder || layer.section == PsdSection::ClosedFolder) return "group";
  if (layer.isText) return "type";
  if (layer.isSmartObject) return "smart object";
  const bool shape = layer.pixelsIrrelevant && (layer.hasVectorMask || layer.hasVectorShape);
  if (layer.isFill) return shape ? "shape" : "fill";
  if (layer.isAdjustment) return "adjustment";
  return shape ? "shape" : "pixel";
}

// The four characters of a key, each byte made printable.
std::string KeyText(FourCC key) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((key.value >> shift) & 0xFF);
    text += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return text;
}

std::string MaskState(bool present, bool disabled) {
  if (!present) return {};
  return disabled ? "disabled" : "enabled";
}

void ReadEffects(std::span<const std::uint8_t> file, const PsdLayer& layer, LayerFacts& facts) {
  const bool drawable = layer.effects.key == FourCC("lfx2") || layer.effects.key == FourCC("lmfx");
  const PsdBlockRef& block = drawable ? layer.effects : layer.otherStyle;
  if (!layer.hasEffects && !block.Present()) return;
  facts.effectsEnabled = true;
  if (!block.Present()) return;
  if (block.offset > file.size() || block.length > file.size() - block.offset) return;
  const auto settings = ReadVersionedDescriptor(file.subspan(block.offset, block.length), 4);
  if (!settings) return;
  facts.effectsEnabled = settings->BooleanOr("masterFXSwitch", true);
  for (const DescriptorItem& item : settings->items) {
    std::vector<const DescriptorValue*> effects;
    if (item.value.type == DescriptorValue::Type::Object) effects.push_back(&item.value);
    if (item.value.type == DescriptorValue::Type::List) {
      for (const DescriptorValue& one : item.value.list) effects.push_back(&one);
    }
    for (const DescriptorValue* effect : effects) {
      if (effect->type != DescriptorValue::Type::Object) continue;
      for (const EffectName& name : kEffectNames) {
        if (effect->text != name.key) continue;
        // The compositor leaves a group's style out whole.
        facts.effects.push_back({name.name, effect->BooleanOr("enab", true), name.drawn && facts.kind != "group"});
      }
    }
  }
}

// The group around each record: a group's end marker lies below its layers
// and its folder record above them.
std::vector<std::int64_t> Parents(const std::vector<PsdLayer>& layers) {
  std::vector<std::int64_t> parents(layers.size(), -1);
  std::vector<std::vector<std::size_t>> open{{}};
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const PsdSection section = layers[i].section;
    if (section == PsdSection::GroupEnd) {
      open.emplace_back();
      continue;
    }
    if ((section == PsdSection::OpenFolder || section == PsdSection::ClosedFolder) && open.size() > 1) {
      for (const std::size_t child : open.back()) parents[child] = static_cast<std::int64_t>(i);
      open.pop_back();
    }
    open.back().push_back(i);
  }
  return parents;
}

void AddNotDrawn(const LayerFacts& layer, std::vector<std::string>& notDrawn) {
  const std::string who = "layer " + std::to_string(layer.index) + " \"" + layer.name + "\"";
  if (!layer.visible) return;
  if (layer.kind == "adjustment") notDrawn.push_back(who + ": the adjustment");
  if (layer.effectsEnabled) {
    for (const EffectFacts& effect : layer.effects) {
      if (effect.enabled && !effect.drawn) notDrawn.push_back(who + ": the " + effect.kind + " effect");
    }
  }
}

// A little writer and reader of the record: numbers as 8 bytes, texts and
// lists with their length first. The reader checks every length against
// what is left of the record.
class FactsOut {
 public:
  void Number(std::int64_t value) { bytes_.append(reinterpret_cast<const char*>(&value), sizeof value); }
  void Real(double value) { bytes_.append(reinterpret_cast<const char*>(&value), sizeof value); }
  void Text(const std::string& text) {
    Number(static_cast<std::int64_t>(text.size()));
    bytes_ += text;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class FactsIn {
 public:
  explicit FactsIn(std::string bytes) : bytes_(std::move(bytes)) {}
  std::int64_t Number() {
    std::int64_t value = 0;
    Take(&value, sizeof value);
    return value;
  }
  double Real() {
    double value = 0;
    Take(&value, sizeof value);
    return value;
  }
  bool Flag() { return Number() != 0; }
  std::string Text() { return OneLineOfText(Raw(Count(1))); }
  // A count of items of at least `itemBytes` each, which the rest of the record can hold.
  std::size_t Count(std::size_t itemBytes) {
    const std::int64_t count = Number();
    if (count < 0 || static_cast<std::uint64_t>(count) > Left() / itemBytes) {
      ok_ = false;
      return 0;
    }
    return static_cast<std::size_t>(count);
  }
  bool Ok() const { return ok_ && at_ == bytes_.size(); }

 private:
  std::size_t Left() const { return bytes_.size() - at_; }
  void Take(void* out, std::size_t size) {
    if (!ok_ || Left() < size) {
      ok_ = false;
      return;
    }
    std::memcpy(out, bytes_.data() + at_, size);
    at_ += size;
  }
  std::string Raw(std::size_t size) {
    std::string text(bytes_.data() + at_, ok_ ? size : 0);
    at_ += ok_ ? size : 0;
    return text;
  }
  std::string bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

std::string ColourModeName(int mode) {
  for (const ModeName& name : kModeNames) {
    if (name.mode == mode) return name.name;
  }
  return "mode " + std::to_string(mode);
}

FileFacts GatherFileFacts(const PsdDocument& document) {
  const PsdHeader& header = document.header;
  FileFacts facts;
  facts.format = header.version == 2 ? "PSB" : "PSD";
  facts.width = header.width;
  facts.height = header.height;
  facts.colourMode = ColourModeName(header.colourMode);
  facts.depth = header.depth;
  facts.channels = header.channels;
  const auto& names = document.resources.alphaNames;
  for (int channel = document.colourChannels; channel < header.channels; ++channel) {
    ChannelFacts extra{channel, ChannelKind(document, channel), {}};
    // Names belong to the saved channels, which the transparency does not count among.
    const int named = channel - document.colourChannels - (document.transparencyChannel >= 0 ? 1 : 0);
    if (channel != document.transparencyChannel && named >= 0 && static_cast<std::size_t>(named) < names.size()) {
      extra.name = names[static_cast<std::size_t>(named)];
    }
    facts.extraChannels.push_back(std::move(extra));
  }
  if (document.resources.resolution) {
    facts.resolutionX = (*document.resources.resolution)[0];
    facts.resolutionY = (*document.resources.resolution)[1];
  }
  facts.hasProfile = !document.resources.iccProfile.empty();
  if (facts.hasProfile) facts.profile = ProfileDescription(document.resources.iccProfile);
  facts.realMergedImage = document.realMergedImage;
  facts.layerProblem = document.layers.problem;

  const std::vector<PsdLayer>& layers = document.layers.layers;
  const std::vector<std::int64_t> parents = Parents(layers);
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const PsdLayer& layer = layers[i];
    if (layer.section == PsdSection::GroupEnd) continue;
    LayerFacts one;
    one.index = static_cast<std::int64_t>(i);
    one.parent = parents[i];
    one.name = layer.name;
    one.kind = LayerKind(layer);
    one.blendMode = KeyText(layer.blendMode);
    one.opacity = layer.opacity;
    one.fillOpacity = layer.fillOpacity;
    one.visible = !layer.hidden;
    one.clipping = layer.clipping;
    one.mask = MaskState(layer.mask.present, layer.mask.disabled);
    one.vectorMask = MaskState(layer.hasVectorMask, layer.vectorMask.disabled);
    ReadEffects(document.file, layer, one);
    one.top = layer.rect.top;
    one.left = layer.rect.left;
    one.bottom = layer.rect.bottom;
    one.right = layer.rect.right;
    facts.layers.push_back(std::move(one));
  }

  const bool fromLayers = !document.realMergedImage && !layers.empty() && CanCompositeLayers(header);
  facts.picture = fromLayers ? "layers" : "merged image";
  if (fromLayers) {
    for (const LayerFacts& layer : facts.layers) AddNotDrawn(layer, facts.notDrawn);
  }
  return facts;
}

bool WriteFileFacts(int output, const FileFacts& facts) {
  FactsOut out;
  out.Text(facts.format);
  out.Number(facts.width);
  out.Number(facts.height);
  out.Text(facts.colourMode);
  out.Number(facts.depth);
  out.Number(facts.channels);
  out.Number(static_cast<std::int64_t>(facts.extraChannels.size()));
  for (const ChannelFacts& channel : facts.extraChannels) {
    out.Number(channel.index);
    out.Text(channel.kind);
    out.Text(channel.name);
  }
  out.Real(facts.resolutionX);
  out.Real(facts.resolutionY);
  out.Number(facts.hasProfile);
  out.Text(facts.profile);
  out.Number(facts.realMergedImage);
  out.Text(facts.layerProblem);
  out.Number(static_cast<std::int64_t>(facts.layers.size()));
  for (const LayerFacts& layer : facts.layers) {
    for (const std::int64_t n : {layer.index, layer.parent}) out.Number(n);
    out.Text(layer.name);
    out.Text(layer.kind);
    out.Text(layer.blendMode);
    for (const std::int64_t n : {layer.opacity, layer.fillOpacity, std::int64_t{layer.visible},
                                 std::int64_t{layer.clipping}}) {
      out.Number(n);
    }
    out.Text(layer.mask);
    out.Text(layer.vectorMask);
    out.Number(layer.effectsEnabled);
    out.Number(static_cast<std::int64_t>(layer.effects.size()));
    for (const EffectFacts& effect : layer.effects) {
      out.Text(effect.kind);
      out.Number(effect.enabled);
      out.Number(effect.drawn);
    }
    for (const std::int64_t n : {layer.top, layer.left, layer.bottom, layer.right}) out.Number(n);
  }
  out.Text(facts.picture);
  out.Number(static_cast<std::int64_t>(facts.notDrawn.size()));
  for (const std::string& line : facts.notDrawn) out.Text(line);

  const std::string& bytes = out.Bytes();
  if (bytes.size() > kMaxFactsBytes) return false;
  const auto length = static_cast<std::uint32_t>(bytes.size());
  return WriteAll(output, &length, sizeof length) && WriteAll(output, bytes.data(), bytes.size());
}

std::optional<FileFacts> ReadFileFacts(const RecordSource& source) {
  std::uint32_t length = 0;
  if (!source(&length, sizeof length) || length > kMaxFactsBytes) return std::nullopt;
  std::string bytes(length, '\0');
  if (!source(bytes.data(), length)) return std::nullopt;
  FactsIn in(std::move(bytes));
  FileFacts facts;
  facts.format = in.Text();
  facts.width = in.Number();
  facts.height = in.Number();
  facts.colourMode = in.Text();
  facts.depth = in.Number();
  facts.channels = in.Number();
  facts.extraChannels.resize(in.Count(24));
  for (ChannelFacts& channel : facts.extraChannels) {
    channel.index = in.Number();
    channel.kind = in.Text();
    channel.name = in.Text();
  }
  facts.resolutionX = in.Real();
  facts.resolutionY = in.Real();
  facts.hasProfile = in.Flag();
  facts.profile = in.Text();
  facts.realMergedImage = in.Flag();
  facts.layerProblem = in.Text();
  facts.layers.resize(in.Count(19 * 8));
  for (LayerFacts& layer : facts.layers) {
    layer.index = in.Number();
    layer.parent = in.Number();
    layer.name = in.Text();
    layer.kind = in.Text();
    layer.blendMode = in.Text();
    layer.opacity = in.Number();
    layer.fillOpacity = in.Number();
    layer.visible = in.Flag();
    layer.clipping = in.Flag();
    layer.mask = in.Text();
    layer.vectorMask = in.Text();
    layer.effectsEnabled = in.Flag();
    layer.effects.resize(in.Count(24));
    for (EffectFacts& effect : layer.effects) {
      effect.kind = in.Text();
      effect.enabled = in.Flag();
      effect.drawn = in.Flag();
    }
    layer.top = in.Number();
    layer.left = in.Number();
    layer.bottom = in.Number();
    layer.right = in.Number();
  }
  facts.picture = in.Text();
  facts.notDrawn.resize(in.Count(8));
  for (std::string& line : facts.notDrawn) line = in.Text();
  if (!in.Ok()) return std::nullopt;
  return facts;
}

}  // namespace kestrel
