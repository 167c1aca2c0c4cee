#include "engine/psd/resources.h"

#include <cstring>

#include "platform/text.h"

namespace kestrel {
namespace {

// A cursor over bytes that never reads past its end.
class Bytes {
 public:
  explicit Bytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t Left() const { return bytes_.size() - at_; }
  bool Has(std::size_t n) const { return n <= Left(); }
  std::uint64_t Big(int n) {
    std::uint64_t value = 0;
    for (int i = 0; i < n; ++i) value = value << 8 | bytes_[at_++];
    return value;
  }
  std::span<const std::uint8_t> Take(std::size_t n) {
    auto part = bytes_.subspan(at_, n);
    at_ += n;
    return part;
  }
  void Skip(std::size_t n) { at_ += n; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// A UTF-16 string with a 4-byte count of code units, or nothing when it does not fit.
std::optional<std::string> UnicodeString(Bytes& in) {
  if (!in.Has(4)) return std::nullopt;
  const std::uint64_t units = in.Big(4);
  if (units > in.Left() / 2) return std::nullopt;
  std::string out;
  for (std::uint64_t i = 0; i < units; ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(in.Big(2));
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      const std::uint32_t low = static_cast<std::uint32_t>(in.Big(2));
      ++i;
      c = 0x10000 + ((c - 0xD800) << 10) + (low & 0x3FF);
    }
    if (c != 0) AppendUtf8(out, c);
  }
  return out;
}

void ReadVersionInfo(std::span<const std::uint8_t> data, PsdResources& out) {
  if (data.size() >= 5) out.hasRealMergedData = data[4] != 0;
}

void ReadPascalNames(std::span<const std::uint8_t> data, PsdResources& out) {
  std::vector<std::string> names;
  Bytes in(data);
  while (in.Has(1)) {
    const std::size_t length = static_cast<std::size_t>(in.Big(1));
    if (!in.Has(length)) break;
    auto text = in.Take(length);
    std::string name;
    for (std::uint8_t c : text) AppendUtf8(name, c);  // Mac Roman is close enough for names
    names.push_back(std::move(name));
  }
  if (out.alphaNames.empty()) out.alphaNames = std::move(names);
}

void ReadUnicodeNames(std::span<const std::uint8_t> data, PsdResources& out) {
  std::vector<std::string> names;
  Bytes in(data);
  while (in.Has(4)) {
    auto name = UnicodeString(in);
    if (!name) break;
    names.push_back(std::move(*name));
  }
  out.alphaNames = std::move(names);
}

void ReadDisplayInfo(std::span<const std::uint8_t> data, bool versioned, PsdResources& out) {
  Bytes in(data);
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
  PsdResources out;
  bool haveUnicodeNames = false;
  bool haveNewDisplay = false;
  Bytes in(section);
  while (in.Left() > 0) {
    if (!in.Has(4 + 2 + 1)) {
      out.readable = false;
      break;
    }
    auto signature = in.Take(4);
    const auto id = static_cast<std::uint16_t>(in.Big(2));
    const std::size_t nameLength = static_cast<std::size_t>(in.Big(1));
    const std::size_t namePad = (nameLength + 1) % 2;  // length byte and name together are even
    if (!in.Has(nameLength + namePad + 4)) {
      out.readable = false;
      break;
    }
    in.Skip(nameLength + namePad);
    const std::uint64_t size = in.Big(4);
    if (size > in.Left()) {
      out.readable = false;
      break;
    }
    auto data = in.Take(static_cast<std::size_t>(size));
    if (size % 2 == 1 && in.Has(1)) in.Skip(1);
    if (std::memcmp(signature.data(), "8BIM", 4) != 0) continue;

    switch (id) {
      case kPsdResourceVersionInfo: ReadVersionInfo(data, out); break;
      case kPsdResourceIccProfile: out.iccProfile.assign(data.begin(), data.end()); break;
      case kPsdResourceAlphaIdentifiers:
        out.alphaIdentifiers.clear();
        for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
          out.alphaIdentifiers.push_back(static_cast<std::uint32_t>(
              std::uint32_t{data[i]} << 24 | std::uint32_t{data[i + 1]} << 16 | std::uint32_t{data[i + 2]} << 8 |
              data[i + 3]));
        }
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

std::optional<PsdResources> ReadPsdResourcesOfFile(std::span<const std::uint8_t> file) {
  constexpr std::size_t kHeader = 26;
  auto big4 = [&](std::size_t at) {
    return std::uint64_t{file[at]} << 24 | std::uint64_t{file[at + 1]} << 16 | std::uint64_t{file[at + 2]} << 8 |
           file[at + 3];
  };
  if (file.size() < kHeader + 4 || std::memcmp(file.data(), "8BPS", 4) != 0) return std::nullopt;
  const std::uint64_t colourLength = big4(kHeader);
  if (colourLength > file.size() - kHeader - 4) return std::nullopt;
  const std::size_t lengthAt = kHeader + 4 + static_cast<std::size_t>(colourLength);
  if (file.size() - lengthAt < 4) return std::nullopt;
  const std::uint64_t sectionLength = big4(lengthAt);
  if (sectionLength > file.size() - lengthAt - 4) return std::nullopt;
  return ReadPsdResources(file.subspan(lengthAt + 4, static_cast<std::size_t>(sectionLength)));
}

}  // namespace kestrel
