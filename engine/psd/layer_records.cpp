#include "engine/psd/layer_records.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string_view>

#include "engine/psd/tagged_blocks.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::array<FourCC, 18> kAdjustmentKeys = {"brit", "levl", "curv", "expA", "vibA", "hue ",
                                                     "hue2", "blnc", "blwh", "phfl", "mixr", "clrL",
                                                     "nvrt", "post", "thrs", "grdm", "selc", "CgEd"};

bool IsAdjustmentKey(FourCC key) { return std::find(kAdjustmentKeys.begin(), kAdjustmentKeys.end(), key) != kAdjustmentKeys.end(); }

std::string UnicodeName(ByteReader block) {
  const std::uint64_t count = block.U32();
  if (count > block.Left() / 2) return {};
  return Utf8FromUtf16BigEndian(block.Bytes(2 * count));
}

// A vector mask: a version and flags, then 26-byte path records. Knot
// coordinates are 8.24 fixed-point fractions of the canvas height and width.
void ReadVectorMask(ByteReader block, const PsdHeader& header, PsdLayer& layer) {
  block.Skip(4);
  const std::uint64_t flags = block.Big(4);
  PsdVectorMask& mask = layer.vectorMask;
  mask.inverted = (flags & 1) != 0;
  mask.disabled = (flags & 4) != 0;
  std::vector<PathKnot>* open = nullptr;
  auto point = [&](ByteReader& record) {
    PathPoint p;
    p.y = record.Int32() / 16777216.0 * header.height;
    p.x = record.Int32() / 16777216.0 * header.width;
    return p;
  };
  while (block.Ok() && block.Left() >= 26) {
    ByteReader record = block.Take(26);
    const std::uint64_t selector = record.Big(2);
    if (selector == 0) {
      record.Skip(2);
      mask.subpaths.emplace_back();
      mask.subpaths.back().operation = static_cast<std::int16_t>(record.Big(2));
      open = &mask.subpaths.back().knots;
    } else if (selector == 3) {
      open = nullptr;  // an open subpath's knots follow
    } else if ((selector == 1 || selector == 2) && open != nullptr) {
      PathKnot knot;
      knot.before = point(record);
      knot.anchor = point(record);
      knot.after = point(record);
      open->push_back(knot);
    }
  }
}

// An artboard block: a version word, then a descriptor of the rectangle and the background.
void ReadArtboard(ByteReader block, PsdLayer& layer) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(block.Left()));
  if (!block.Copy(bytes.data(), bytes.size())) return;
  const std::optional<DescriptorValue> settings = ReadVersionedDescriptor(bytes, 0);
  const DescriptorValue* rect = settings ? settings->Find("artboardRect") : nullptr;
  if (rect == nullptr) return;
  // Any number may stand in the file: each edge is held to what a rectangle can keep.
  auto edge = [rect](std::string_view key) {
    const double value = std::clamp(rect->NumberOr(key, 0), -2147483648.0, 2147483647.0);
    return static_cast<std::int32_t>(std::isfinite(value) ? std::round(value) : 0);
  };
  PsdArtboard& artboard = layer.artboard;
  artboard.present = true;
  artboard.rect = PsdRect{edge("Top "), edge("Left"), edge("Btom"), edge("Rght")};
  const double type = settings->NumberOr("artboardBackgroundType", 3);
  if (type >= 1 && type <= 4) artboard.background = static_cast<PsdArtboard::Background>(static_cast<int>(type));
  if (const DescriptorValue* colour = settings->Find("Clr ")) artboard.colour = *colour;
}

// The additional information blocks of one layer record.
void ReadLayerBlocks(ByteReader blocks, const PsdHeader& header, PsdLayer& layer) {
  ForEachTaggedBlock(blocks, header.version, [&](FourCC key, ByteReader block) {
    if (key == FourCC("lsct") || key == FourCC("lsdk")) {
      const std::uint64_t type = block.U32();
      if (type == 1) layer.section = PsdSection::OpenFolder;
      else if (type == 2) layer.section = PsdSection::ClosedFolder;
      else if (type == 3) layer.section = PsdSection::GroupEnd;
      if (block.Left() >= 8 && block.Code() == FourCC("8BIM")) layer.blendMode = block.Code();
    } else if (key == FourCC("iOpa")) {
      if (block.Left() >= 1) layer.fillOpacity = block.Byte();
    } else if (key == FourCC("knko")) {
      if (block.Left() >= 1) layer.knockout = block.Byte();
    } else if (key == FourCC("luni")) {
      std::string name = UnicodeName(block);
      if (!name.empty()) layer.name = std::move(name);
    } else if (key == FourCC("lrFX") || key == FourCC("lfx2") || key == FourCC("lmfx")) {
      layer.hasEffects = true;
      if (key == FourCC("lfx2") || !layer.effects.Present()) layer.effects = PsdBlockRef{key, block.At(), block.Left()};
    } else if (key == FourCC("infx") || key == FourCC("lmgm") || key == FourCC("vmgm") || key == FourCC("tsly") ||
               key == FourCC("clbl")) {
      const bool on = block.Left() >= 1 && block.Byte() != 0;
      if (key == FourCC("infx")) layer.blendInteriorAsGroup = on;
      else if (key == FourCC("clbl")) layer.blendClippedAsGroup = on;
      else if (key == FourCC("lmgm")) layer.maskHidesEffects = on;
      else if (key == FourCC("vmgm")) layer.vectorMaskHidesEffects = on;
      else layer.transparencyShapesLayer = on;
    } else if (key == FourCC("fxrp")) {
      if (block.Left() >= 16) layer.referencePoint = PathPoint{block.Double(), block.Double()};
    } else if (key == FourCC("artb") || key == FourCC("artd") || key == FourCC("abdd")) {
      ReadArtboard(block, layer);
    } else if (key == FourCC("lfxs")) {
      layer.otherStyle = PsdBlockRef{key, block.At(), block.Left()};
    } else if (key == FourCC("vmsk") || key == FourCC("vsms")) {
      layer.hasVectorMask = true;
      ReadVectorMask(block, header, layer);
    } else if (key == FourCC("SoCo") || key == FourCC("GdFl") || key == FourCC("PtFl")) {
      layer.isFill = true;
      layer.fill = PsdBlockRef{key, block.At(), block.Left()};
    } else if (IsAdjustmentKey(key)) {
      layer.isAdjustment = true;
      if (!layer.adjustment.Present()) layer.adjustment = PsdBlockRef{key, block.At(), block.Left()};
    } else if (key == FourCC("TySh") || key == FourCC("tySh")) {
      layer.isText = true;
    } else if (key == FourCC("SoLd") || key == FourCC("SoLE") || key == FourCC("PlLd") || key == FourCC("plLd")) {
      layer.isSmartObject = true;
    } else if (key == FourCC("vogk") || key == FourCC("vstk") || key == FourCC("vscg")) {
      layer.hasVectorShape = true;
      // Origination data also comes with live shapes drawn as a pixel layer's vector mask.
      if (key != FourCC("vogk")) layer.drawnFromShape = true;
    }
    return true;
  });
}

// Top, left, bottom, right.
PsdRect ReadRect(ByteReader& in) {
  PsdRect rect;
  rect.top = in.Int32();
  rect.left = in.Int32();
  rect.bottom = in.Int32();
  rect.right = in.Int32();
  return rect;
}

// The layer mask data of a record: the mask's rectangle and default colour,
// and, when a vector mask is present too, the user mask's own ("real") ones.
void ReadMask(ByteReader mask, PsdLayer& layer) {
  if (mask.Left() < 18) return;
  PsdLayerMask& m = layer.mask;
  m.rect = ReadRect(mask);
  m.defaultColour = mask.Byte();
  const std::uint8_t flags = mask.Byte();
  m.disabled = (flags & 0x02) != 0;
  m.inverted = (flags & 0x04) != 0;
  m.present = true;
  if (mask.Left() >= 18 && layer.Channel(kLayerRealMask) != nullptr) {
    const std::uint8_t realFlags = mask.Byte();
    m.defaultColour = mask.Byte();
    m.rect = ReadRect(mask);
    m.disabled = (realFlags & 0x02) != 0;
    m.inverted = (realFlags & 0x04) != 0;
    m.channelId = kLayerRealMask;
  }
}

// The blending ranges: for the grey composite and then each channel, this
// layer's range and the underlying one, each as four bytes.
void ReadBlendRanges(ByteReader ranges, PsdLayer& layer) {
  // Braced, the four bytes are read in order.
  auto range = [&ranges] { return PsdBlendRange{ranges.Byte(), ranges.Byte(), ranges.Byte(), ranges.Byte()}; };
  while (ranges.Left() >= 8) {
    PsdBlendRanges pair;
    pair.thisLayer = range();
    pair.underlying = range();
    layer.blendIf.push_back(pair);
  }
}

constexpr std::uint64_t kMaxChannelsPerLayer = 56;

bool ReadRecord(ByteReader& in, const PsdHeader& header, PsdLayer& layer) {
  const int version = header.version;
  layer.rect = ReadRect(in);
  const std::uint64_t channelCount = in.Big(2);
  if (channelCount > kMaxChannelsPerLayer) return false;
  layer.channels.resize(channelCount);
  for (PsdLayerChannel& channel : layer.channels) {
    channel.id = in.Int16();
    channel.length = in.Big(version == 2 ? 8 : 4);
  }
  if (in.Code() != FourCC("8BIM")) return false;
  layer.blendMode = in.Code();
  layer.opacity = in.Byte();
  layer.clipping = in.Byte() != 0;
  const std::uint8_t flags = in.Byte();
  layer.hidden = (flags & 0x02) != 0;
  layer.pixelsIrrelevant = (flags & 0x18) == 0x18;  // bit 4 counts only where bit 3 says it is set
  in.Skip(1);
  ByteReader extra = in.Take(in.Big(4));
  ReadMask(extra.Take(extra.Big(4)), layer);
  ReadBlendRanges(extra.Take(extra.Big(4)), layer);
  const std::uint8_t nameLength = extra.Byte();
  ByteReader name = extra.Take(nameLength);
  for (std::uint64_t i = 0; i < nameLength && name.Ok(); ++i) {
    const std::uint8_t c = name.Byte();
    if (c < 0x80) layer.name += static_cast<char>(c);
    else AppendUtf8(layer.name, c);  // taken as Latin-1
  }
  extra.Skip((4 - (nameLength + 1) % 4) % 4);
  if (!extra.Ok()) return false;
  ReadLayerBlocks(extra, header, layer);
  return in.Ok();
}

// A layer info structure: the count, the records, then each layer's channel data.
bool ReadLayerInfo(ByteReader in, const PsdHeader& header, PsdLayers& out) {
  const std::int16_t signedCount = in.Int16();
  const std::uint64_t count = static_cast<std::uint64_t>(signedCount < 0 ? -std::int32_t{signedCount} : signedCount);
  // Every record takes at least the smallest's bytes, checked before the list is made.
  if (!in.Ok() || count > in.Left() / kSmallestLayerRecord) {
    out.problem = "the layer count does not fit its section";
    return false;
  }
  std::vector<PsdLayer> layers(count);
  for (PsdLayer& layer : layers) {
    if (!ReadRecord(in, header, layer)) {
      out.problem = "a layer record is damaged";
      return false;
    }
  }
  for (PsdLayer& layer : layers) {
    for (PsdLayerChannel& channel : layer.channels) {
      channel.offset = in.At();
      in.Skip(channel.length);
      if (!in.Ok() || channel.length < 2) {
        out.problem = "a layer's channel data runs past its section";
        return false;
      }
    }
  }
  out.layers = std::move(layers);
  return true;
}

PsdLayers ReadLayers(const ByteReader& bytes, const PsdHeader& header, const PsdLayerSection& walk) {
  PsdLayers out;
  out.problem = walk.problem;
  if (walk.info.length > 0 && !ReadLayerInfo(bytes.Range(walk.info.offset, walk.info.length), header, out)) return out;
  if (out.layers.empty() && walk.blockInfo.length > 0) {
    ReadLayerInfo(bytes.Range(walk.blockInfo.offset, walk.blockInfo.length), header, out);
  }
  return out;
}

}  // namespace

PsdLayers ReadPsdLayers(std::span<const std::uint8_t> file, const PsdHeader& header, const PsdLayerSection& walk) {
  return ReadLayers(ByteReader(file), header, walk);
}

PsdLayers ReadPsdLayers(std::span<const std::uint8_t> file, const PsdHeader& header) {
  return ReadPsdLayers(ByteReader(file), header);
}

PsdLayers ReadPsdLayers(const ByteReader& file, const PsdHeader& header) {
  return ReadLayers(file, header, WalkLayerSection(file, header));
}

}  // namespace kestrel
