#include "engine/confine/picture_load.h"

#include <cstdint>

#include "engine/confine/confined_decode.h"
#include "engine/confine/picture_header.h"
#include "engine/confine/untrusted_file.h"

namespace kestrel {
namespace {

// The decoded picture, its 32-bit conversion and the decoder's own row
// buffers: 16 bytes a pixel is ample for every layout the four readers make.
constexpr std::uint64_t kBytesPerPixelBound = 16;
// A picture decodes in a blink: a second beyond its CPU limit is a hang.
constexpr std::uint64_t kWallSlackMilliseconds = 1000;

bool HasAnyAlpha(FIBITMAP* picture) {
  const unsigned width = FreeImage_GetWidth(picture), height = FreeImage_GetHeight(picture);
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(picture, y);
    for (unsigned x = 0; x < width; ++x) {
      if (line[4 * x + FI_RGBA_ALPHA] != 0) return true;
    }
  }
  return false;
}

}  // namespace

SandboxLimits PictureDecodeLimits(const PictureHeader& header, std::uint64_t fileSize) {
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  const std::uint64_t cpu = kBaseCpuSeconds + 4 * pixels / kDecodedBytesPerCpuSecond;
  return DecodeLimits(kBytesPerPixelBound * pixels + fileSize, cpu, cpu * 1000 + kWallSlackMilliseconds);
}

FIBITMAP* PictureAsRgb(FIBITMAP* picture, bool isBmp) {
  if (picture == nullptr || !FreeImage_HasPixels(picture)) return nullptr;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(picture);
  const unsigned bpp = FreeImage_GetBPP(picture);
  if (type == FIT_BITMAP && bpp == 32) {
    // A 32-bit BMP whose fourth bytes are all zero stores no alpha: they are
    // padding, and the picture is opaque.
    if (isBmp && FreeImage_GetColorType(picture) == FIC_RGBALPHA && !HasAnyAlpha(picture)) {
      return FreeImage_ConvertTo24Bits(picture);
    }
    return picture;
  }
  const bool alpha = type == FIT_RGBA16 || (type == FIT_BITMAP && FreeImage_IsTransparent(picture));
  return alpha ? FreeImage_ConvertTo32Bits(picture) : FreeImage_ConvertTo24Bits(picture);
}

ImageResult LoadPictureSandboxed(const std::string& path) {
  UntrustedFile file = OpenUntrustedFile(path);
  if (!file.failure.empty()) return FailedImage(file.failure);
  const int fd = file.fd.Get();
  const std::uint64_t size = file.size;
  const PictureHeaderCheck check = CheckPictureHeader(size, SourceOfFile(fd));
  if (!check.ok) return FailedImage(check.problem);
  const PictureHeader header = check.header;
  // Mapped before the child starts, so the confined child needs no new mapping of a file.
  const FileMapping mapping(fd, size);
  const std::uint8_t* mapped = mapping.Data();
  ConfinedDecode run;
  run.limits = PictureDecodeLimits(header, size);
  run.fd = fd;
  run.decode = [=](int output) -> int {
    FreeImage_SetOutputMessage(nullptr);  // nothing may be printed from here
    // Icons with a transparency mask get it as their alpha channel.
    const int flags = header.format == FIF_ICO ? ICO_MAKEALPHA : 0;
    // Left to the child's end rather than unloaded: after a decoder that
    // damaged its heap, the unload could crash a child that sent a good picture.
    FIBITMAP* picture = PictureAsRgb(DecodeFromFd(header.format, fd, size, mapped, flags), header.format == FIF_BMP);
    return picture != nullptr && WriteDecodedImage(picture, output) ? 0 : 1;
  };
  run.width = header.width;
  run.height = header.height;
  // 32-bit rows at most; rows are padded to 4 bytes, which 32-bit rows already are.
  run.maxPixelBytes = 4ull * header.width * header.height;
  ImageResult load = RunConfinedDecode(run);
  if (!load.image) return load;
  const bool rgb = FreeImage_GetImageType(load.image.get()) == FIT_BITMAP &&
                   (FreeImage_GetBPP(load.image.get()) == 24 || FreeImage_GetBPP(load.image.get()) == 32);
  if (!rgb) return FailedImage(kDecoderInconsistent);
  return load;
}

}  // namespace kestrel
