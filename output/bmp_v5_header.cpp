#include "output/bmp_v5_header.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kBitFields = 3;              // BI_BITFIELDS
constexpr std::uint32_t kSrgbColourSpace = 0x73524742;  // LCS_sRGB, 'sRGB'
constexpr std::uint32_t kIntentImages = 4;           // LCS_GM_IMAGES: perceptual

void Put32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void Put16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

}  // namespace

std::array<unsigned char, kBmpV5HeaderSize> BmpV5Header(const BITMAPINFOHEADER& info, bool green565) {
  std::array<unsigned char, kBmpV5HeaderSize> header{};
  unsigned char* h = header.data();
  Put32(h + 0, kBmpV5HeaderSize);
  Put32(h + 4, static_cast<std::uint32_t>(info.biWidth));
  Put32(h + 8, static_cast<std::uint32_t>(info.biHeight));
  Put16(h + 12, 1);
  Put16(h + 14, info.biBitCount);
  std::uint32_t compression = info.biCompression;
  std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  if (info.biBitCount == 32) {
    compression = kBitFields;
    masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF, masks[3] = 0xFF000000;
  } else if (info.biBitCount == 16) {
    compression = kBitFields;
    if (green565) {
      masks[0] = 0xF800, masks[1] = 0x07E0, masks[2] = 0x001F;
    } else {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    }
  }
  Put32(h + 16, compression);
  Put32(h + 20, info.biSizeImage);
  Put32(h + 24, static_cast<std::uint32_t>(info.biXPelsPerMeter));
  Put32(h + 28, static_cast<std::uint32_t>(info.biYPelsPerMeter));
  Put32(h + 32, info.biClrUsed);
  Put32(h + 36, info.biClrImportant);
  for (int i = 0; i < 4; ++i) Put32(h + 40 + 4 * i, masks[i]);
  Put32(h + 56, kSrgbColourSpace);
  // The end points (60..95) and gammas (96..107) are unused with sRGB.
  Put32(h + 108, kIntentImages);
  // No profile (112..119); reserved (120).
  return header;
}

}  // namespace kestrel
