#include "engine/psd_transfer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace kestrel {
namespace {

constexpr std::uint32_t kMagic = 0x4b445452;  // "KDTR"
constexpr std::uint32_t kMaxIccBytes = 64u << 20;

struct RecordHeader {
  std::uint32_t magic;
  std::uint32_t type;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t bpp;
  std::uint32_t pitch;
  std::uint32_t redMask;
  std::uint32_t greenMask;
  std::uint32_t blueMask;
  std::uint32_t paletteEntries;
  std::uint32_t transparencyCount;
  std::uint32_t hasBackground;
  RGBQUAD background;
  std::uint32_t dotsPerMeterX;
  std::uint32_t dotsPerMeterY;
  std::uint32_t iccBytes;
  std::uint32_t iccFlags;
  std::uint64_t pixelOffset;
  std::uint64_t pixelBytes;
};

// The one bit depth FreeImage uses for each sample type (0: any of the standard ones).
int BitsOfType(std::uint32_t type) {
  switch (type) {
    case FIT_BITMAP: return 0;
    case FIT_UINT16: case FIT_INT16: return 16;
    case FIT_UINT32: case FIT_INT32: case FIT_FLOAT: return 32;
    case FIT_DOUBLE: return 64;
    case FIT_COMPLEX: return 128;
    case FIT_RGB16: return 48;
    case FIT_RGBA16: return 64;
    case FIT_RGBF: return 96;
    case FIT_RGBAF: return 128;
    default: return -1;
  }
}

bool KnownLayout(std::uint32_t type, std::uint32_t bpp) {
  const int bits = BitsOfType(type);
  if (bits < 0) return false;
  if (bits > 0) return bpp == static_cast<std::uint32_t>(bits);
  return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

bool WriteAllAt(int fd, const void* data, std::uint64_t size, std::uint64_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, bytes, static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30)),
                               static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

bool WriteDecodedImage(FIBITMAP* image, int fd) {
  if (image == nullptr || !FreeImage_HasPixels(image)) return false;
  RecordHeader header{};
  header.magic = kMagic;
  header.type = FreeImage_GetImageType(image);
  header.width = FreeImage_GetWidth(image);
  header.height = FreeImage_GetHeight(image);
  header.bpp = FreeImage_GetBPP(image);
  header.pitch = FreeImage_GetPitch(image);
  header.redMask = FreeImage_GetRedMask(image);
  header.greenMask = FreeImage_GetGreenMask(image);
  header.blueMask = FreeImage_GetBlueMask(image);
  header.paletteEntries = FreeImage_GetPalette(image) != nullptr ? FreeImage_GetColorsUsed(image) : 0;
  header.transparencyCount = FreeImage_GetTransparencyTable(image) != nullptr ? FreeImage_GetTransparencyCount(image) : 0;
  header.hasBackground = FreeImage_GetBackgroundColor(image, &header.background) ? 1 : 0;
  header.dotsPerMeterX = FreeImage_GetDotsPerMeterX(image);
  header.dotsPerMeterY = FreeImage_GetDotsPerMeterY(image);
  const FIICCPROFILE* icc = FreeImage_GetICCProfile(image);
  header.iccBytes = icc != nullptr && icc->data != nullptr ? static_cast<std::uint32_t>(icc->size) : 0;
  header.iccFlags = icc != nullptr ? icc->flags : 0;

  std::vector<unsigned char> head(sizeof header);
  auto append = [&head](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    head.insert(head.end(), bytes, bytes + size);
  };
  if (header.paletteEntries > 0) append(FreeImage_GetPalette(image), 4ull * header.paletteEntries);
  if (header.transparencyCount > 0) append(FreeImage_GetTransparencyTable(image), header.transparencyCount);
  if (header.iccBytes > 0) append(icc->data, header.iccBytes);
  header.pixelOffset = (head.size() + 15) / 16 * 16;
  header.pixelBytes = std::uint64_t{header.pitch} * header.height;
  std::memcpy(head.data(), &header, sizeof header);
  // Written by the kernel straight from the bitmap: no mapping, no page faults.
  return WriteAllAt(fd, FreeImage_GetBits(image), header.pixelBytes, header.pixelOffset) &&
         WriteAllAt(fd, head.data(), head.size(), 0);
}

namespace {

// The checked layout of a record: its header and where its parts lie.
struct CheckedRecord {
  RecordHeader header;
  const std::uint8_t* extras = nullptr;  // palette, transparency table, ICC profile
};

std::optional<CheckedRecord> CheckRecord(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                                         std::uint32_t expectedHeight) {
  CheckedRecord checked;
  RecordHeader& header = checked.header;
  if (record.size() < sizeof header) return std::nullopt;
  std::memcpy(&header, record.data(), sizeof header);
  if (header.magic != kMagic || header.width != expectedWidth || header.height != expectedHeight ||
      header.width == 0 || header.height == 0 || !KnownLayout(header.type, header.bpp)) {
    return std::nullopt;
  }
  const std::uint32_t paletteEntries = header.bpp <= 8 && header.type == FIT_BITMAP ? 1u << header.bpp : 0;
  if (header.paletteEntries != paletteEntries || header.transparencyCount > 256 ||
      (header.transparencyCount > 0 && paletteEntries == 0) || header.iccBytes > kMaxIccBytes) {
    return std::nullopt;
  }
  const std::uint64_t head = sizeof header + 4ull * header.paletteEntries + header.transparencyCount + header.iccBytes;
  const std::uint64_t size = record.size();
  if (header.pixelOffset < head || header.pixelOffset > size || header.pixelOffset % 16 != 0) return std::nullopt;
  // A row holds every pixel: the pitch is at least the row's bytes and keeps FreeImage's 4-byte alignment.
  const std::uint64_t rowBytes = (std::uint64_t{header.width} * header.bpp + 7) / 8;
  if (header.pitch < rowBytes || header.pitch % 4 != 0) return std::nullopt;
  if (header.pixelBytes != std::uint64_t{header.pitch} * header.height || header.pixelBytes > size - header.pixelOffset) {
    return std::nullopt;
  }
  checked.extras = record.data() + sizeof header;
  return checked;
}

// Gives a new bitmap (over external or its own pixels) the record's palette,
// transparency, profile, background and resolution.
bool ApplyExtras(const CheckedRecord& checked, FIBITMAP* image) {
  const RecordHeader& header = checked.header;
  if (FreeImage_GetPitch(image) != header.pitch || FreeImage_GetBPP(image) != header.bpp) return false;
  const std::uint8_t* at = checked.extras;
  if (header.paletteEntries > 0) {
    RGBQUAD* palette = FreeImage_GetPalette(image);
    if (palette == nullptr || FreeImage_GetColorsUsed(image) != header.paletteEntries) return false;
    std::memcpy(palette, at, 4ull * header.paletteEntries);
    at += 4ull * header.paletteEntries;
  }
  if (header.transparencyCount > 0) {
    BYTE table[256];
    std::memcpy(table, at, header.transparencyCount);
    FreeImage_SetTransparencyTable(image, table, static_cast<int>(header.transparencyCount));
    at += header.transparencyCount;
  }
  if (header.iccBytes > 0) {
    FIICCPROFILE* icc = FreeImage_CreateICCProfile(image, const_cast<std::uint8_t*>(at), static_cast<long>(header.iccBytes));
    if (icc != nullptr) icc->flags = static_cast<WORD>(header.iccFlags & FIICC_COLOR_IS_CMYK);
  } else if (header.iccFlags & FIICC_COLOR_IS_CMYK) {
    FIICCPROFILE* icc = FreeImage_CreateICCProfile(image, nullptr, 0);
    if (icc != nullptr) icc->flags = FIICC_COLOR_IS_CMYK;
  }
  RGBQUAD background = header.background;
  if (header.hasBackground) FreeImage_SetBackgroundColor(image, &background);
  FreeImage_SetDotsPerMeterX(image, header.dotsPerMeterX);
  FreeImage_SetDotsPerMeterY(image, header.dotsPerMeterY);
  return true;
}

}  // namespace

ImagePtr ReadDecodedImage(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight) {
  const auto checked = CheckRecord(record, expectedWidth, expectedHeight);
  if (!checked) return nullptr;
  const RecordHeader& header = checked->header;
  ImagePtr image = Adopt(FreeImage_AllocateT(static_cast<FREE_IMAGE_TYPE>(header.type), static_cast<int>(header.width),
                                             static_cast<int>(header.height), static_cast<int>(header.bpp),
                                             header.redMask, header.greenMask, header.blueMask));
  if (!image || !ApplyExtras(*checked, image.get())) return nullptr;
  std::memcpy(FreeImage_GetBits(image.get()), record.data() + header.pixelOffset, header.pixelBytes);
  return image;
}

ImagePtr AdoptDecodedImage(std::span<std::uint8_t> record, std::shared_ptr<void> owner, std::uint32_t expectedWidth,
                           std::uint32_t expectedHeight) {
  const auto checked = CheckRecord(record, expectedWidth, expectedHeight);
  if (!checked) return nullptr;
  const RecordHeader& header = checked->header;
  // A bitmap header over the record's own rows: no copy of the pixels.
  ImagePtr image = AdoptOverExternalPixels(
      FreeImage_ConvertFromRawBitsEx(FALSE, record.data() + header.pixelOffset, static_cast<FREE_IMAGE_TYPE>(header.type),
                                     static_cast<int>(header.width), static_cast<int>(header.height),
                                     static_cast<int>(header.pitch), header.bpp, header.redMask, header.greenMask,
                                     header.blueMask, FALSE),
      std::move(owner));
  if (!image || FreeImage_GetBits(image.get()) != record.data() + header.pixelOffset ||
      !ApplyExtras(*checked, image.get())) {
    return nullptr;
  }
  return image;
}

}  // namespace kestrel
