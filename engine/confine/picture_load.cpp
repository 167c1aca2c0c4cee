#include "engine/confine/picture_load.h"

#include <algorithm>
#include <cstdint>

#include "engine/confine/picture_header.h"
#include "engine/confine/bitmap_record.h"
#include "engine/confine/untrusted_file.h"
#include "platform/sandbox.h"
#include "platform/sanitizer.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kMiB = 1ull << 20;
// Child memory beyond the picture: FreeImage's buffers and tables.
constexpr std::uint64_t kBaseAddressSpace = 256 * kMiB;
// The decoded picture, its 32-bit conversion and the decoder's own row
// buffers: 16 bytes a pixel is ample for every layout the four readers make.
constexpr std::uint64_t kBytesPerPixelBound = 16;
constexpr std::uint64_t kDecodedBytesPerCpuSecond = 32 * kMiB;
constexpr int kBaseCpuSeconds = 2;
constexpr int kWallSlackMilliseconds = 1000;

SandboxLimits LimitsFor(const PictureHeader& header, std::uint64_t fileSize) {
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  SandboxLimits limits;
  std::uint64_t space = kBaseAddressSpace + kBytesPerPixelBound * pixels + fileSize;
  // The sanitizer's allocator keeps freed memory in quarantine and maps shadow memory.
  if (kSanitizedBuild) space += 1024 * kMiB;
  const std::uint64_t machine = PhysicalMemoryBytes();
  if (machine > 0) space = std::min(space, std::max<std::uint64_t>(machine / 2, kBaseAddressSpace));
  limits.extraAddressSpace = space;
  limits.cpuSeconds = kBaseCpuSeconds + static_cast<int>(4 * pixels / kDecodedBytesPerCpuSecond);
  limits.wallMilliseconds = limits.cpuSeconds * 1000 + kWallSlackMilliseconds;
  return limits;
}

ImageResult Failure(std::string why) {
  ImageResult load;
  load.failure = std::move(why);
  return load;
}

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
  if (!file.failure.empty()) return Failure(file.failure);
  const int fd = file.fd.Get();
  const std::uint64_t size = file.size;
  const PictureHeaderCheck check =
      CheckPictureHeader(size, [fd](std::uint64_t offset, void* out, std::size_t bytes) { return ReadAt(fd, offset, out, bytes); });
  if (!check.ok) return Failure(check.problem);
  const PictureHeader header = check.header;
  // Mapped before the child starts, so the confined child needs no new mapping of a file.
  const FileMapping mapping(fd, size);
  const std::uint8_t* mapped = mapping.Data();
  // 32-bit rows at most; rows are padded to 4 bytes, which 32-bit rows already are.
  const std::uint64_t maxPixelBytes = 4ull * header.width * header.height;
  const SandboxLimits limits = LimitsFor(header, size);
  ImageResult load;
  const SandboxResult result = RunSandboxed(
      limits, SandboxDescriptors{{fd}, {}},
      [=](int output) -> int {
        FreeImage_SetOutputMessage(nullptr);  // nothing may be printed from here
        // Icons with a transparency mask get it as their alpha channel.
        const int flags = header.format == FIF_ICO ? ICO_MAKEALPHA : 0;
        // Left to the child's end rather than unloaded (see engine/decode/confined_psd.cpp).
        FIBITMAP* picture = PictureAsRgb(DecodeFromFd(header.format, fd, size, mapped, flags), header.format == FIF_BMP);
        return picture != nullptr && WriteDecodedImage(picture, output) ? 0 : 1;
      },
      [&](SandboxOutput& output) {
        const RecordSource source = [&output](void* buffer, std::size_t bytes) { return output.Read(buffer, bytes); };
        load.image = ReceiveDecodedImage(source, header.width, header.height, maxPixelBytes);
        return static_cast<bool>(load.image);
      });
  if (!result.Succeeded()) return Failure(DescribeDecoderEnd(result, limits));
  const bool rgb = load.image && FreeImage_GetImageType(load.image.get()) == FIT_BITMAP &&
                   (FreeImage_GetBPP(load.image.get()) == 24 || FreeImage_GetBPP(load.image.get()) == 32);
  if (!rgb) return Failure(kDecoderInconsistent);
  return load;
}

}  // namespace kestrel
