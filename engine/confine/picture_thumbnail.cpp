#include "engine/confine/picture_thumbnail.h"

#include <FreeImage.h>

#include "engine/confine/picture_header.h"
#include "engine/confine/picture_load.h"
#include "engine/confine/untrusted_file.h"
#include "platform/files.h"
#include "platform/sandbox.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kLargestFile = 64ull << 20;

// Runs in the child: decodes the picture, shrinks it and writes width,
// height and the rows. Returns the child's exit code.
int SendThumbnail(const PictureHeader& header, int input, std::uint64_t size, const std::uint8_t* mapped, int side,
                  int output) {
  FreeImage_SetOutputMessage(nullptr);
  // Left to the child's end rather than unloaded, as every confined decode's pictures are.
  FIBITMAP* image = DecodeFromFd(header.format, input, size, mapped, header.format == FIF_ICO ? ICO_MAKEALPHA : 0);
  if (image == nullptr) return 1;
  FIBITMAP* small = FreeImage_MakeThumbnail(image, side, TRUE);
  if (small == nullptr) return 1;
  FIBITMAP* pixels = FreeImage_ConvertTo32Bits(small);
  if (pixels == nullptr) return 1;
  const std::uint32_t shape[2] = {FreeImage_GetWidth(pixels), FreeImage_GetHeight(pixels)};
  if (!WriteAll(output, shape, sizeof shape)) return 1;
  for (unsigned y = shape[1]; y-- > 0;) {  // FreeImage keeps the bottom row first
    if (!WriteAll(output, FreeImage_GetScanLine(pixels, static_cast<int>(y)), shape[0] * 4u)) return 1;
  }
  return 0;
}

}  // namespace

std::optional<Thumbnail> ReadPictureThumbnail(const std::string& path, int side) {
  if (side <= 0 || side > 1024) return std::nullopt;
  const UntrustedFile file = OpenUntrustedFile(path);
  if (!file.failure.empty() || file.size == 0 || file.size > kLargestFile) return std::nullopt;
  const int input = file.fd.Get();
  const std::uint64_t size = file.size;
  const PictureHeaderCheck check = CheckPictureHeader(size, SourceOfFile(input));
  if (!check.ok) return std::nullopt;
  // Mapped before the child starts, so the confined child needs no new mapping of a file.
  const FileMapping mapping(input, size);
  const std::uint8_t* mapped = mapping.Data();
  const PictureHeader header = check.header;
  Thumbnail thumbnail;
  const SandboxResult result = RunSandboxed(
      PictureDecodeLimits(header, size), SandboxDescriptors{{input}, {}},
      [=](int output) { return SendThumbnail(header, input, size, mapped, side, output); },
      [&](SandboxOutput& output) {
        std::uint32_t shape[2] = {};
        if (!output.Read(shape, sizeof shape)) return false;
        const auto limit = static_cast<std::uint32_t>(side);
        if (shape[0] == 0 || shape[1] == 0 || shape[0] > limit || shape[1] > limit) return false;
        thumbnail.width = static_cast<int>(shape[0]);
        thumbnail.height = static_cast<int>(shape[1]);
        thumbnail.bgra.resize(std::size_t{shape[0]} * shape[1] * 4);
        return output.Read(thumbnail.bgra.data(), thumbnail.bgra.size());
      });
  if (!result.Succeeded() || thumbnail.bgra.empty()) return std::nullopt;
  return thumbnail;
}

}  // namespace kestrel
