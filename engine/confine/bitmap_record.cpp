#include "engine/confine/bitmap_record.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/pixel_memory.h"

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

// Hands the rows to a pipe by reference (the reader then makes the only copy);
// anything but a pipe gets an ordinary write.
bool SpliceAll(int fd, const void* data, std::uint64_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    iovec part{const_cast<unsigned char*>(bytes), static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30))};
    const ssize_t n = ::vmsplice(fd, &part, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EINVAL || errno == EBADF)) return WriteAll(fd, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::uint64_t>(n);
  }
  return true;
}

std::uint64_t HeadBytes(const RecordHeader& header) {
  return sizeof header + 4ull * header.paletteEntries + header.transparencyCount + header.iccBytes;
}

std::uint64_t PixelOffsetAfter(std::uint64_t head) { return (head + 15) / 16 * 16; }

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
  header.pixelOffset = PixelOffsetAfter(head.size());
  header.pixelBytes = std::uint64_t{header.pitch} * header.height;
  head.resize(header.pixelOffset);
  std::memcpy(head.data(), &header, sizeof header);
  // The bitmap is not touched again before the process ends, so its pages may go by reference.
  return WriteAll(fd, head.data(), head.size()) && SpliceAll(fd, FreeImage_GetBits(image), header.pixelBytes);
}

namespace {

// A record header whose fields agree with each other and with the image the
// file's header declared; the parts after it are read only once it has passed.
bool CheckRecordHeader(const RecordHeader& header, std::uint32_t expectedWidth, std::uint32_t expectedHeight,
                       std::uint64_t maxPixelBytes) {
  if (header.magic != kMagic || header.width != expectedWidth || header.height != expectedHeight ||
      header.width == 0 || header.height == 0 || !KnownLayout(header.type, header.bpp)) {
    return false;
  }
  const std::uint32_t paletteEntries = header.bpp <= 8 && header.type == FIT_BITMAP ? 1u << header.bpp : 0;
  if (header.paletteEntries != paletteEntries || header.transparencyCount > 256 ||
      (header.transparencyCount > 0 && paletteEntries == 0) || header.iccBytes > kMaxIccBytes) {
    return false;
  }
  if (header.pixelOffset != PixelOffsetAfter(HeadBytes(header))) return false;
  // A row holds every pixel: the pitch is at least the row's bytes and keeps FreeImage's 4-byte alignment.
  const std::uint64_t rowBytes = (std::uint64_t{header.width} * header.bpp + 7) / 8;
  if (header.pitch < rowBytes || header.pitch % 4 != 0) return false;
  return header.pixelBytes == std::uint64_t{header.pitch} * header.height && header.pixelBytes <= maxPixelBytes;
}

// Gives a new bitmap (over external or its own pixels) the record's palette,
// transparency, profile, background and resolution.
bool ApplyExtras(const RecordHeader& header, const std::uint8_t* extras, FIBITMAP* image) {
  if (FreeImage_GetPitch(image) != header.pitch || FreeImage_GetBPP(image) != header.bpp) return false;
  const std::uint8_t* at = extras;
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

ImagePtr ReceiveDecodedImage(const RecordSource& source, std::uint32_t expectedWidth, std::uint32_t expectedHeight,
                             std::uint64_t maxPixelBytes) {
  RecordHeader header{};
  if (!source(&header, sizeof header) || !CheckRecordHeader(header, expectedWidth, expectedHeight, maxPixelBytes)) {
    return nullptr;
  }
  std::vector<std::uint8_t> extras(header.pixelOffset - sizeof header);
  if (!source(extras.data(), extras.size())) return nullptr;
  // The rows go straight into memory of the bitmap's own, which a bitmap header is then made over.
  std::shared_ptr<void> pixels = MapPixelMemory(header.pixelBytes);
  if (!pixels || !source(pixels.get(), header.pixelBytes)) return nullptr;
  auto* bits = static_cast<BYTE*>(pixels.get());
  ImagePtr image = AdoptOverExternalPixels(
      FreeImage_ConvertFromRawBitsEx(FALSE, bits, static_cast<FREE_IMAGE_TYPE>(header.type),
                                     static_cast<int>(header.width), static_cast<int>(header.height),
                                     static_cast<int>(header.pitch), header.bpp, header.redMask, header.greenMask,
                                     header.blueMask, FALSE),
      std::move(pixels));
  if (!image || FreeImage_GetBits(image.get()) != bits || !ApplyExtras(header, extras.data(), image.get())) {
    return nullptr;
  }
  return image;
}

ImagePtr ReadDecodedImage(std::span<const std::uint8_t> record, std::uint32_t expectedWidth,
                          std::uint32_t expectedHeight) {
  std::size_t position = 0;
  const RecordSource source = [&](void* buffer, std::size_t size) {
    if (size > record.size() - position) return false;
    if (size > 0) std::memcpy(buffer, record.data() + position, size);
    position += size;
    return true;
  };
  return ReceiveDecodedImage(source, expectedWidth, expectedHeight, record.size());
}

}  // namespace kestrel
