#include "engine/confine/picture_thumbnail.h"

#include <FreeImage.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/files.h"
#include "platform/sandbox.h"

namespace kestrel {
namespace {

constexpr std::int64_t kLargestFile = 64ll << 20;

// Runs in the child: reads the whole file, decodes it, shrinks it and writes
// width, height and the rows. Returns the child's exit code.
int SendThumbnail(int input, std::int64_t size, int side, int output) {
  std::vector<BYTE> bytes(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(input, bytes.data() + done, bytes.size() - done);
    if (got <= 0) return 1;
    done += static_cast<std::size_t>(got);
  }
  FreeImage_SetOutputMessage(nullptr);
  FIMEMORY* memory = FreeImage_OpenMemory(bytes.data(), static_cast<DWORD>(bytes.size()));
  const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory, 0);
  if (format != FIF_BMP && format != FIF_ICO && format != FIF_JPEG && format != FIF_PNG) return 1;
  FIBITMAP* image = FreeImage_LoadFromMemory(format, memory, format == FIF_ICO ? ICO_MAKEALPHA : 0);
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
  const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  if (!file.Valid() || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
      info.st_size > kLargestFile) {
    return std::nullopt;
  }
  const int input = file.Get();
  const std::int64_t size = info.st_size;
  Thumbnail thumbnail;
  const SandboxResult result = RunSandboxed(
      SandboxLimits{}, SandboxDescriptors{{input}, {}},
      [=](int output) { return SendThumbnail(input, size, side, output); },
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
