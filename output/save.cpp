#include "output/save.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace kestrel {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

AtomicFile* AsFile(fi_handle handle) { return static_cast<AtomicFile*>(handle); }

unsigned DLL_CALLCONV WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  const std::size_t bytes = static_cast<std::size_t>(size) * count;
  return AsFile(handle)->Write(buffer, bytes) ? count : 0;
}

unsigned DLL_CALLCONV NoReadProc(void*, unsigned, unsigned, fi_handle) { return 0; }

int DLL_CALLCONV SeekProc(fi_handle handle, long offset, int origin) {
  return AsFile(handle)->Seek(offset, origin) ? 0 : -1;
}

long DLL_CALLCONV TellProc(fi_handle handle) { return static_cast<long>(AsFile(handle)->Tell()); }

struct MemoryClose {
  void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
};

void PutLittleEndian32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t GetLittleEndian32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

Outcome CannotWrite(const std::string& path, int error) {
  std::string why = "cannot write " + path;
  if (error != 0) why += ": " + std::generic_category().message(error);
  return Failed(std::move(why));
}

Outcome CannotEncode(int formatId) {
  const char* format = FreeImage_GetFormatFromFIF(static_cast<FREE_IMAGE_FORMAT>(formatId));
  return Failed(std::string("the image cannot be encoded as ") + (format != nullptr ? format : "this format"));
}

// Commits a completely written file to its name.
Outcome Finish(AtomicFile& file, const std::string& path) {
  if (file.Failed() || !file.Commit()) return CannotWrite(path, file.Error());
  return Succeeded();
}

}  // namespace

Outcome SaveImage(FIBITMAP* image, int formatId, const std::string& path, int flags) {
  if (image == nullptr || !FreeImage_HasPixels(image)) return Failed("there is no image to save");
  auto file = AtomicFile::Create(path);
  if (!file) return CannotWrite(path, errno);
  FreeImageIO io{NoReadProc, WriteProc, SeekProc, TellProc};
  const bool encoded = FreeImage_SaveToHandle(static_cast<FREE_IMAGE_FORMAT>(formatId), image, &io,
                                              static_cast<fi_handle>(&*file), flags) != FALSE;
  // The encoder's own verdict is not enough: it ignores some failed writes.
  if (file->Failed()) return CannotWrite(path, file->Error());
  if (!encoded) return CannotEncode(formatId);
  return Finish(*file, path);
}

int CountUsedPaletteEntries(FIBITMAP* image) {
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  const unsigned pitch = FreeImage_GetPitch(image);
  const BYTE* line = FreeImage_GetBits(image);
  BYTE largest = 0;
  for (unsigned y = 0; y < height && largest != 255; ++y, line += pitch) {
    largest = std::max(largest, *std::max_element(line, line + width));
  }
  return width == 0 ? 1 : largest + 1;
}

Outcome WriteBmpExactColourTable(FIBITMAP* image, const std::string& path, int flags) {
  if (image == nullptr || FreeImage_GetBPP(image) != 8 || FreeImage_GetPalette(image) == nullptr) {
    return Failed("an exact colour table needs an 8-bit image with a palette");
  }
  std::unique_ptr<FIMEMORY, MemoryClose> stream(FreeImage_OpenMemory(nullptr, 0));
  BYTE* encoded = nullptr;
  DWORD encodedSize = 0;
  if (!stream || !FreeImage_SaveToMemory(FIF_BMP, image, stream.get(), flags) ||
      !FreeImage_AcquireMemory(stream.get(), &encoded, &encodedSize) ||
      encodedSize < kFileHeaderSize + kInfoHeaderSize) {
    return CannotEncode(FIF_BMP);
  }
  // Pixel data follows the encoder's full 256-entry table; take its offset from its own header.
  const std::size_t pixelOffset = GetLittleEndian32(encoded + 10);
  if (pixelOffset > encodedSize) return CannotEncode(FIF_BMP);
  const std::size_t pixelSize = encodedSize - pixelOffset;
  const std::uint32_t encodedCompression = GetLittleEndian32(encoded + kFileHeaderSize + 16);

  const auto used = static_cast<std::size_t>(CountUsedPaletteEntries(image));
  const std::size_t tableOffset = kFileHeaderSize + kInfoHeaderSize;
  const std::size_t dataOffset = tableOffset + 4 * used;
  std::vector<unsigned char> file(dataOffset + pixelSize, 0);

  file[0] = 'B';
  file[1] = 'M';
  PutLittleEndian32(&file[2], static_cast<std::uint32_t>(file.size()));
  PutLittleEndian32(&file[10], static_cast<std::uint32_t>(dataOffset));

  BITMAPINFOHEADER info = *FreeImage_GetInfoHeader(image);
  info.biSize = kInfoHeaderSize;
  // The encoder's own word on compression: BI_RGB, or BI_RLE8 when it wrote run lengths.
  info.biCompression = encodedCompression;
  info.biSizeImage = static_cast<DWORD>(pixelSize);
  info.biClrUsed = static_cast<DWORD>(used);
  info.biClrImportant = static_cast<DWORD>(used);
  static_assert(sizeof(BITMAPINFOHEADER) == kInfoHeaderSize);
  std::memcpy(&file[kFileHeaderSize], &info, kInfoHeaderSize);

  std::memcpy(&file[tableOffset], FreeImage_GetPalette(image), 4 * used);
  std::memcpy(&file[dataOffset], encoded + pixelOffset, pixelSize);
  auto output = AtomicFile::Create(path);
  if (!output) return CannotWrite(path, errno);
  output->Write(file.data(), file.size());
  return Finish(*output, path);
}

}  // namespace kestrel
