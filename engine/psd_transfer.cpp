#include "engine/psd_transfer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

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

  const std::uint64_t head = sizeof header + 4ull * header.paletteEntries + header.transparencyCount + header.iccBytes;
  header.pixelOffset = (head + 15) / 16 * 16;
  header.pixelBytes = std::uint64_t{header.pitch} * header.height;
  const std::uint64_t total = header.pixelOffset + header.pixelBytes;
  if (::ftruncate(fd, static_cast<off_t>(total)) != 0) return false;
  void* mapped = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) return false;
  auto* out = static_cast<unsigned char*>(mapped);
  std::size_t at = sizeof header;
  if (header.paletteEntries > 0) {
    std::memcpy(out + at, FreeImage_GetPalette(image), 4ull * header.paletteEntries);
    at += 4ull * header.paletteEntries;
  }
  if (header.transparencyCount > 0) {
    std::memcpy(out + at, FreeImage_GetTransparencyTable(image), header.transparencyCount);
    at += header.transparencyCount;
  }
  if (header.iccBytes > 0) std::memcpy(out + at, icc->data, header.iccBytes);
  std::memcpy(out + header.pixelOffset, FreeImage_GetBits(image), header.pixelBytes);
  std::memcpy(out, &header, sizeof header);
  ::munmap(mapped, total);
  return true;
}

ImagePtr ReadDecodedImage(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight) {
  RecordHeader header;
  if (record.size() < sizeof header) return nullptr;
  std::memcpy(&header, record.data(), sizeof header);
  if (header.magic != kMagic || header.width != expectedWidth || header.height != expectedHeight ||
      header.width == 0 || header.height == 0 || !KnownLayout(header.type, header.bpp)) {
    return nullptr;
  }
  const std::uint32_t paletteEntries = header.bpp <= 8 && header.type == FIT_BITMAP ? 1u << header.bpp : 0;
  if (header.paletteEntries != paletteEntries || header.transparencyCount > 256 ||
      (header.transparencyCount > 0 && paletteEntries == 0) || header.iccBytes > kMaxIccBytes) {
    return nullptr;
  }
  const std::uint64_t head = sizeof header + 4ull * header.paletteEntries + header.transparencyCount + header.iccBytes;
  if (header.pixelOffset < head || header.pixelOffset > record.size()) return nullptr;
  if (header.pixelBytes != std::uint64_t{header.pitch} * header.height ||
      header.pixelBytes > record.size() - header.pixelOffset) {
    return nullptr;
  }

  ImagePtr image = Adopt(FreeImage_AllocateT(static_cast<FREE_IMAGE_TYPE>(header.type), static_cast<int>(header.width),
                                             static_cast<int>(header.height), static_cast<int>(header.bpp),
                                             header.redMask, header.greenMask, header.blueMask));
  if (!image || FreeImage_GetPitch(image.get()) != header.pitch || FreeImage_GetBPP(image.get()) != header.bpp) {
    return nullptr;
  }
  const std::uint8_t* at = record.data() + sizeof header;
  if (header.paletteEntries > 0) {
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    if (palette == nullptr || FreeImage_GetColorsUsed(image.get()) != header.paletteEntries) return nullptr;
    std::memcpy(palette, at, 4ull * header.paletteEntries);
    at += 4ull * header.paletteEntries;
  }
  if (header.transparencyCount > 0) {
    BYTE table[256];
    std::memcpy(table, at, header.transparencyCount);
    FreeImage_SetTransparencyTable(image.get(), table, static_cast<int>(header.transparencyCount));
    at += header.transparencyCount;
  }
  if (header.iccBytes > 0) {
    FIICCPROFILE* icc = FreeImage_CreateICCProfile(image.get(), const_cast<std::uint8_t*>(at),
                                                   static_cast<long>(header.iccBytes));
    if (icc != nullptr) icc->flags = static_cast<WORD>(header.iccFlags & FIICC_COLOR_IS_CMYK);
  } else if (header.iccFlags & FIICC_COLOR_IS_CMYK) {
    FIICCPROFILE* icc = FreeImage_CreateICCProfile(image.get(), nullptr, 0);
    if (icc != nullptr) icc->flags = FIICC_COLOR_IS_CMYK;
  }
  if (header.hasBackground) FreeImage_SetBackgroundColor(image.get(), &header.background);
  FreeImage_SetDotsPerMeterX(image.get(), header.dotsPerMeterX);
  FreeImage_SetDotsPerMeterY(image.get(), header.dotsPerMeterY);
  std::memcpy(FreeImage_GetBits(image.get()), record.data() + header.pixelOffset, header.pixelBytes);
  return image;
}

}  // namespace kestrel
