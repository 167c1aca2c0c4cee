#include "engine/psd/layer_records.h"

#include "platform/text.h"

namespace kestrel {
namespace {

// Reads big-endian fields from [at, end) of the file; any read past end
// fails the cursor, and every later read then fails too.
class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> file, std::uint64_t at, std::uint64_t end)
      : file_(file), at_(at), end_(end <= file.size() ? end : file.size()), ok_(at <= end_) {}

  bool Ok() const { return ok_; }
  std::uint64_t At() const { return at_; }
  std::uint64_t End() const { return end_; }
  std::uint64_t Left() const { return ok_ ? end_ - at_ : 0; }

  std::uint64_t Unsigned(int bytes) {
    if (!Has(static_cast<std::uint64_t>(bytes))) return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | file_[at_ + i];
    at_ += static_cast<std::uint64_t>(bytes);
    return value;
  }
  std::int32_t Int32() { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Unsigned(4))); }
  std::int16_t Int16() { return static_cast<std::int16_t>(static_cast<std::uint16_t>(Unsigned(2))); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Unsigned(1)); }
  void Skip(std::uint64_t bytes) {
    if (Has(bytes)) at_ += bytes;
  }
  void MoveTo(std::uint64_t at) {
    if (at < at_ || at > end_) ok_ = false;
    else at_ = at;
  }
  // A sub-cursor over the next `bytes`, which this one then skips.
  Cursor Take(std::uint64_t bytes) {
    Cursor inner(file_, at_, Has(bytes) ? at_ + bytes : at_);
    if (!ok_) inner.ok_ = false;
    Skip(bytes);
    return inner;
  }

 private:
  bool Has(std::uint64_t bytes) {
    if (ok_ && bytes <= end_ - at_) return true;
    ok_ = false;
    return false;
  }

  std::span<const std::uint8_t> file_;
  std::uint64_t at_;
  std::uint64_t end_;
  bool ok_;
};

std::uint32_t Key(const char* key) {
  return std::uint32_t(std::uint8_t(key[0])) << 24 | std::uint32_t(std::uint8_t(key[1])) << 16 |
         std::uint32_t(std::uint8_t(key[2])) << 8 | std::uint32_t(std::uint8_t(key[3]));
}

// Blocks whose length is 8 bytes wide in a PSB file.
bool HasWideLength(FourCC key) {
  for (const char* wide : {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn", "Alph", "FMsk", "lnk2", "FEid",
                           "FXid", "PxSD", "lnkE", "pths", "extd", "exPr", "cinf", "artd", "lnk3"}) {
    if (key == FourCC(Key(wide))) return true;
  }
  return false;
}

bool IsAdjustmentKey(FourCC key) {
  for (const char* k : {"brit", "levl", "curv", "expA", "vibA", "hue ", "hue2", "blnc",
                        "blwh", "phfl", "mixr", "clrL", "nvrt", "post", "thrs", "grdm", "selc", "CgEd"}) {
    if (key == FourCC(Key(k))) return true;
  }
  return false;
}

std::string UnicodeName(Cursor block) {
  const std::uint64_t count = block.Unsigned(4);
  if (count > block.Left() / 2) return {};
  std::string name;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(block.Unsigned(2));
    if (c >= 0xd800 && c < 0xdc00 && i + 1 < count) {
      const std::uint32_t low = static_cast<std::uint32_t>(block.Unsigned(2));
      ++i;
      c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
    }
    if (c == 0) break;
    AppendUtf8(name, c);
  }
  return name;
}

// A vector mask: a version and flags, then 26-byte path records. Knot
// coordinates are 8.24 fixed-point fractions of the canvas height and width.
void ReadVectorMask(Cursor block, const PsdHeader& header, PsdLayer& layer) {
  block.Skip(4);
  const std::uint64_t flags = block.Unsigned(4);
  PsdVectorMask& mask = layer.vectorMask;
  mask.inverted = (flags & 1) != 0;
  mask.disabled = (flags & 4) != 0;
  std::vector<PathKnot>* open = nullptr;
  auto point = [&](Cursor& record) {
    PathPoint p;
    p.y = record.Int32() / 16777216.0 * header.height;
    p.x = record.Int32() / 16777216.0 * header.width;
    return p;
  };
  while (block.Ok() && block.Left() >= 26) {
    Cursor record = block.Take(26);
    const std::uint64_t selector = record.Unsigned(2);
    if (selector == 0) {
      record.Skip(2);
      mask.subpaths.emplace_back();
      mask.subpaths.back().operation = static_cast<std::int16_t>(record.Unsigned(2));
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

// The additional information blocks of one layer record.
void ReadLayerBlocks(Cursor blocks, const PsdHeader& header, PsdLayer& layer) {
  const int version = header.version;
  while (blocks.Left() >= 12) {
    const FourCC signature(static_cast<std::uint32_t>(blocks.Unsigned(4)));
    if (signature != FourCC("8BIM") && signature != FourCC("8B64")) return;
    const FourCC key(static_cast<std::uint32_t>(blocks.Unsigned(4)));
    const std::uint64_t length = blocks.Unsigned(version == 2 && HasWideLength(key) ? 8 : 4);
    Cursor block = blocks.Take(length);
    if (!blocks.Ok()) return;
    if (key == FourCC("lsct") || key == FourCC("lsdk")) {
      const std::uint64_t type = block.Unsigned(4);
      if (type == 1) layer.section = PsdSection::OpenFolder;
      else if (type == 2) layer.section = PsdSection::ClosedFolder;
      else if (type == 3) layer.section = PsdSection::GroupEnd;
      if (block.Left() >= 8 && FourCC(static_cast<std::uint32_t>(block.Unsigned(4))) == FourCC("8BIM")) {
        layer.blendMode = FourCC(static_cast<std::uint32_t>(block.Unsigned(4)));
      }
    } else if (key == FourCC("iOpa")) {
      if (block.Left() >= 1) layer.fillOpacity = block.Byte();
    } else if (key == FourCC("knko")) {
      if (block.Left() >= 1) layer.knockout = block.Byte() != 0;
    } else if (key == FourCC("luni")) {
      std::string name = UnicodeName(block);
      if (!name.empty()) layer.name = std::move(name);
    } else if (key == FourCC("lrFX") || key == FourCC("lfx2") || key == FourCC("lmfx")) {
      layer.hasEffects = true;
      if (key == FourCC("lfx2") || !layer.effects.Present()) layer.effects = PsdBlockRef{key, block.At(), block.Left()};
    } else if (key == FourCC("vmsk") || key == FourCC("vsms")) {
      layer.hasVectorMask = true;
      ReadVectorMask(block, header, layer);
    } else if (key == FourCC("SoCo") || key == FourCC("GdFl") || key == FourCC("PtFl")) {
      layer.isFill = true;
      layer.fill = PsdBlockRef{key, block.At(), block.Left()};
    } else if (IsAdjustmentKey(key)) {
      layer.isAdjustment = true;
    }
  }
}

// The layer mask data of a record: the mask's rectangle and default colour,
// and, when a vector mask is present too, the user mask's own ("real") ones.
void ReadMask(Cursor mask, PsdLayer& layer) {
  if (mask.Left() < 18) return;
  PsdLayerMask& m = layer.mask;
  m.rect.top = mask.Int32();
  m.rect.left = mask.Int32();
  m.rect.bottom = mask.Int32();
  m.rect.right = mask.Int32();
  m.defaultColour = mask.Byte();
  const std::uint8_t flags = mask.Byte();
  m.disabled = (flags & 0x02) != 0;
  m.inverted = (flags & 0x04) != 0;
  m.present = true;
  if (mask.Left() >= 18 && layer.Channel(kLayerRealMask) != nullptr) {
    const std::uint8_t realFlags = mask.Byte();
    m.defaultColour = mask.Byte();
    m.rect.top = mask.Int32();
    m.rect.left = mask.Int32();
    m.rect.bottom = mask.Int32();
    m.rect.right = mask.Int32();
    m.disabled = (realFlags & 0x02) != 0;
    m.inverted = (realFlags & 0x04) != 0;
    m.channelId = kLayerRealMask;
  }
}

constexpr std::uint64_t kMaxChannelsPerLayer = 56;

bool ReadRecord(Cursor& in, const PsdHeader& header, PsdLayer& layer) {
  const int version = header.version;
  layer.rect.top = in.Int32();
  layer.rect.left = in.Int32();
  layer.rect.bottom = in.Int32();
  layer.rect.right = in.Int32();
  const std::uint64_t channelCount = in.Unsigned(2);
  if (channelCount > kMaxChannelsPerLayer) return false;
  layer.channels.resize(channelCount);
  for (PsdLayerChannel& channel : layer.channels) {
    channel.id = in.Int16();
    channel.length = in.Unsigned(version == 2 ? 8 : 4);
  }
  if (FourCC(static_cast<std::uint32_t>(in.Unsigned(4))) != FourCC("8BIM")) return false;
  layer.blendMode = FourCC(static_cast<std::uint32_t>(in.Unsigned(4)));
  layer.opacity = in.Byte();
  layer.clipping = in.Byte() != 0;
  const std::uint8_t flags = in.Byte();
  layer.hidden = (flags & 0x02) != 0;
  in.Skip(1);
  Cursor extra = in.Take(in.Unsigned(4));
  ReadMask(extra.Take(extra.Unsigned(4)), layer);
  extra.Take(extra.Unsigned(4));  // blending ranges: not drawn
  const std::uint8_t nameLength = extra.Byte();
  Cursor name = extra.Take(nameLength);
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
bool ReadLayerInfo(Cursor in, const PsdHeader& header, PsdLayers& out) {
  const std::int16_t signedCount = in.Int16();
  const std::uint64_t count = static_cast<std::uint64_t>(signedCount < 0 ? -std::int32_t{signedCount} : signedCount);
  // Each record takes at least 34 bytes; the smallest is checked before the list is made.
  if (!in.Ok() || count > in.Left() / 34) {
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

}  // namespace

PsdLayers ReadPsdLayers(std::span<const std::uint8_t> file, const PsdHeader& header) {
  PsdLayers out;
  const int version = header.version;
  const int lengthBytes = version == 2 ? 8 : 4;
  Cursor whole(file, header.colourDataOffset + header.colourDataLength, file.size());
  whole.Skip(whole.Unsigned(4));  // image resources
  Cursor section = whole.Take(whole.Unsigned(lengthBytes));
  if (!whole.Ok()) {
    out.problem = "the layer section runs past the end of the file";
    return out;
  }
  if (section.Left() == 0) return out;
  Cursor info = section.Take(section.Unsigned(lengthBytes));
  if (!section.Ok()) {
    out.problem = "the layer info runs past its section";
    return out;
  }
  if (info.Left() > 0 && !ReadLayerInfo(info, header, out)) return out;
  if (!out.layers.empty()) return out;
  // 16- and 32-bit files keep their layers in a block after the global mask.
  section.Skip(section.Unsigned(4));
  while (section.Ok() && section.Left() >= 12) {
    const std::uint64_t start = section.At();
    const FourCC signature(static_cast<std::uint32_t>(section.Unsigned(4)));
    if (signature != FourCC("8BIM") && signature != FourCC("8B64")) break;
    const FourCC key(static_cast<std::uint32_t>(section.Unsigned(4)));
    const std::uint64_t length = section.Unsigned(version == 2 && HasWideLength(key) ? 8 : 4);
    Cursor block = section.Take(length);
    if (!section.Ok()) break;
    if (key == FourCC("Lr16") || key == FourCC("Lr32") || key == FourCC("Layr")) {
      ReadLayerInfo(block, header, out);
      return out;
    }
    // Blocks here are padded to four bytes, though not by every writer.
    const std::uint64_t padded = start + (section.At() - start + 3) / 4 * 4;
    if (padded <= section.End() && padded - section.At() < 4) {
      Cursor peek(file, padded, section.End());
      const FourCC next(static_cast<std::uint32_t>(peek.Unsigned(4)));
      if (next == FourCC("8BIM") || next == FourCC("8B64")) section.MoveTo(padded);
    }
  }
  return out;
}

namespace {

std::uint64_t BigAt(const ByteSource& read, std::uint64_t at, int bytes, bool& ok) {
  std::uint8_t field[8] = {};
  if (!ok || !read(at, field, static_cast<std::size_t>(bytes))) {
    ok = false;
    return 0;
  }
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | field[i];
  return value;
}

// The count at the head of a layer info of `length` bytes at `at`, when records that size could fit.
std::uint32_t CountAt(const ByteSource& read, std::uint64_t at, std::uint64_t length, bool& ok) {
  if (length < 2) return 0;
  const auto count = static_cast<std::int16_t>(BigAt(read, at, 2, ok));
  const std::uint32_t layers = static_cast<std::uint32_t>(count < 0 ? -std::int32_t{count} : count);
  return ok && layers <= (length - 2) / 34 ? layers : 0;
}

}  // namespace

std::uint32_t CountPsdLayers(std::uint64_t fileSize, const ByteSource& read, const PsdHeader& header) {
  const int lengthBytes = header.version == 2 ? 8 : 4;
  bool ok = true;
  std::uint64_t at = header.colourDataOffset + header.colourDataLength;
  const std::uint64_t resources = BigAt(read, at, 4, ok);
  if (resources > fileSize) return 0;
  at += 4 + resources;
  const std::uint64_t sectionLength = BigAt(read, at, lengthBytes, ok);
  at += static_cast<std::uint64_t>(lengthBytes);
  if (!ok || sectionLength > fileSize - std::min(at, fileSize)) return 0;
  const std::uint64_t end = at + sectionLength;
  const std::uint64_t infoLength = BigAt(read, at, lengthBytes, ok);
  at += static_cast<std::uint64_t>(lengthBytes);
  if (!ok || infoLength > end - std::min(at, end)) return 0;
  if (const std::uint32_t layers = CountAt(read, at, infoLength, ok); layers > 0) return layers;
  // 16- and 32-bit files keep their layers in a block after the global mask.
  at += infoLength;
  const std::uint64_t globalMask = BigAt(read, at, 4, ok);
  if (globalMask > end - std::min(at, end)) return 0;
  at += 4 + globalMask;
  while (ok && at + 12 <= end) {
    const FourCC signature(static_cast<std::uint32_t>(BigAt(read, at, 4, ok)));
    if (signature != FourCC("8BIM") && signature != FourCC("8B64")) return 0;
    const FourCC key(static_cast<std::uint32_t>(BigAt(read, at + 4, 4, ok)));
    const int wide = header.version == 2 && HasWideLength(key) ? 8 : 4;
    const std::uint64_t length = BigAt(read, at + 8, wide, ok);
    const std::uint64_t data = at + 8 + static_cast<std::uint64_t>(wide);
    if (!ok || data > end || length > end - data) return 0;
    if (key == FourCC("Lr16") || key == FourCC("Lr32") || key == FourCC("Layr")) {
      return CountAt(read, data, length, ok);
    }
    at = data + length;
  }
  return 0;
}

}  // namespace kestrel
