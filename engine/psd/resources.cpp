#include "engine/psd/resources.h"

#include "platform/text.h"

namespace kestrel {
namespace {

// A UTF-16 string with a 4-byte count of code units, or nothing when it does not fit.
std::optional<std::string> UnicodeString(ByteReader& in) {
  const std::uint64_t units = in.U32();
  if (!in.Ok() || units > in.Left() / 2) return std::nullopt;
  return Utf8FromUtf16BigEndian(in.Bytes(2 * units));
}

void ReadVersionInfo(std::span<const std::uint8_t> data, PsdResources& out) {
  if (data.size() >= 5) out.hasRealMergedData = data[4] != 0;
}

void ReadPascalNames(std::span<const std::uint8_t> data, PsdResources& out) {
  std::vector<std::string> names;
  ByteReader in(data);
  while (in.Has(1)) {
    const std::size_t length = in.Byte();
    if (!in.Has(length)) break;
    auto text = in.Bytes(length);
    std::string name;
    for (std::uint8_t c : text) AppendUtf8(name, c);  // Mac Roman is close enough for names
    names.push_back(std::move(name));
  }
  if (out.alphaNames.empty()) out.alphaNames = std::move(names);
}

void ReadUnicodeNames(std::span<const std::uint8_t> data, PsdResources& out) {
  std::vector<std::string> names;
  ByteReader in(data);
  while (in.Has(4)) {
    auto name = UnicodeString(in);
    if (!name) break;
    names.push_back(std::move(*name));
  }
  out.alphaNames = std::move(names);
}

void ReadDisplayInfo(std::span<const std::uint8_t> data, bool versioned, PsdResources& out) {
  ByteReader in(data);
  if (versioned) {
    if (!in.Has(4)) return;
    in.Skip(4);
  }
  const std::size_t entry = versioned ? 13 : 14;
  std::vector<PsdChannelDisplay> display;
  while (in.Has(entry)) {
    in.Skip(10);  // colour space and colour
    PsdChannelDisplay channel;
    channel.opacity = static_cast<int>(in.Big(2));
    channel.kind = static_cast<int>(in.Big(1));
    if (!versioned) in.Skip(1);
    display.push_back(channel);
  }
  if (versioned || out.channelDisplay.empty()) out.channelDisplay = std::move(display);
}

}  // namespace

PsdResources ReadPsdResources(std::span<const std::uint8_t> section) {
  ByteReader in(section);
  PsdResources out;
  bool haveUnicodeNames = false;
  bool haveNewDisplay = false;
  while (in.Left() > 0) {
    const FourCC signature = in.Code();
    const std::uint16_t id = in.U16();
    const std::size_t nameLength = in.Byte();
    in.Skip(nameLength + (nameLength + 1) % 2);  // length byte and name together are even
    const std::uint64_t size = in.U32();
    const std::span<const std::uint8_t> data = in.Bytes(size);
    if (!in.Ok()) {
      out.readable = false;
      break;
    }
    if (size % 2 == 1 && in.Has(1)) in.Skip(1);
    if (signature != FourCC("8BIM")) continue;

    switch (id) {
      case kPsdResourceVersionInfo: ReadVersionInfo(data, out); break;
      case kPsdResourceIccProfile: out.iccProfile.assign(data.begin(), data.end()); break;
      case kPsdResourceGlobalAngle:
        if (ByteReader angle(data); angle.Has(4)) out.globalAngle = static_cast<std::int32_t>(angle.U32());
        break;
      case kPsdResourceGlobalAltitude:
        if (ByteReader altitude(data); altitude.Has(4)) out.globalAltitude = static_cast<std::int32_t>(altitude.U32());
        break;
      case kPsdResourceResolution:
        // Horizontal then vertical resolution, each a 16.16 fixed-point number of pixels per inch and two units.
        if (ByteReader resolution(data); resolution.Has(16)) {
          const double x = resolution.U32() / 65536.0;
          resolution.Skip(4);
          out.resolution = std::array<double, 2>{x, resolution.U32() / 65536.0};
        }
        break;
      case kPsdResourceAlphaIdentifiers:
        out.alphaIdentifiers.clear();
        for (ByteReader ids(data); ids.Has(4);) out.alphaIdentifiers.push_back(ids.U32());
        break;
      case kPsdResourceAlphaNames:
        if (!haveUnicodeNames) ReadPascalNames(data, out);
        break;
      case kPsdResourceUnicodeAlphaNames:
        ReadUnicodeNames(data, out);
        haveUnicodeNames = true;
        break;
      case kPsdResourceDisplayInfoOld:
        if (!haveNewDisplay) ReadDisplayInfo(data, false, out);
        break;
      case kPsdResourceDisplayInfo:
        ReadDisplayInfo(data, true, out);
        haveNewDisplay = true;
        break;
      default: break;
    }
  }
  return out;
}

}  // namespace kestrel
