#include "output/save.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "output/bmp_v5_header.h"
#include "platform/files.h"

namespace kestrel {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kFileSizeAt = 2;                          // bfSize
constexpr std::size_t kImageSizeAt = kFileHeaderSize + 20;      // biSizeImage
constexpr std::size_t kCompressionAt = kFileHeaderSize + 16;    // biCompression
// Every size and offset in a BMP header is a 32-bit field.
constexpr std::uint64_t kLargestBmp = 0xFFFFFFFFu;
constexpr std::uint32_t kRunLength8 = 1;  // biCompression of 8-bit run lengths (BI_RLE8)
constexpr std::uint32_t kBitFields = 3;   // biCompression of pixels laid out by colour masks (BI_BITFIELDS)

AtomicFile* AsFile(fi_handle handle) { return static_cast<AtomicFile*>(handle); }

unsigned DLL_CALLCONV WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  const std::size_t bytes = static_cast<std::size_t>(size) * count;
  return AsFile(handle)->Write(buffer, bytes) ? count : 0;
}

// The library's run-length encoder skips the pad byte after an odd-length
// literal run without writing it, so the file would hold whatever was in its
// buffer. Walks whole commands of a run-length stream and zeroes those bytes.
void ClearRunLengthPadding(unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  while (i + 1 < size) {
    const unsigned code = data[i + 1];
    if (data[i] != 0 || code < 2) {
      i += 2;  // a repeated byte, an end of line or the end of the bitmap
    } else if (code == 2) {
      i += 4;  // a move
    } else {
      const std::size_t end = i + 2 + code;  // a literal run, padded to an even length
      if (code % 2 == 1 && end < size) data[end] = 0;
      i = end + code % 2;
    }
  }
}

// What FreeImage's BMP encoder writes through: the file, and where its pixel data starts.
struct BmpStream {
  AtomicFile* file;
  bool runLengths;
  std::int64_t pixelOffset;
  bool tooLarge = false;
};

// The encoder writes headers and the colour table first, then run-length data
// one whole line per call: each such call can be cleaned on its own.
unsigned DLL_CALLCONV BmpWriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  auto* stream = static_cast<BmpStream*>(handle);
  const std::size_t bytes = static_cast<std::size_t>(size) * count;
  if (static_cast<std::uint64_t>(stream->file->Tell()) + bytes > kLargestBmp) {
    stream->tooLarge = true;
    return 0;
  }
  if (stream->runLengths && stream->file->Tell() >= stream->pixelOffset) {
    ClearRunLengthPadding(static_cast<unsigned char*>(buffer), bytes);
  }
  return stream->file->Write(buffer, bytes) ? count : 0;
}

int DLL_CALLCONV BmpSeekProc(fi_handle handle, long offset, int origin) {
  return static_cast<BmpStream*>(handle)->file->Seek(offset, origin) ? 0 : -1;
}

long DLL_CALLCONV BmpTellProc(fi_handle handle) {
  return static_cast<long>(static_cast<BmpStream*>(handle)->file->Tell());
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

Outcome TooLargeForBmp(std::uint64_t size) {
  std::string why = "the image is too large for a BMP file, which holds at most 4 GiB";
  if (size != 0) why += " (this one would take " + std::to_string(size) + " bytes)";
  return Failed(std::move(why));
}

// Commits a completely written file to its name.
Outcome Finish(AtomicFile& file, const std::string& path) {
  if (file.Failed() || !file.Commit()) return CannotWrite(path, file.Error());
  return Succeeded();
}

}  // namespace

Outcome CompleteDeferredSave(AtomicFile& file, const std::string& path) {
  return CompleteDeferredSaves({&file}, {path}).front();
}

std::vector<Outcome> CompleteDeferredSaves(const std::vector<AtomicFile*>& files, const std::vector<std::string>& paths,
                                           const AtomicFile::GroupFlush& flush) {
  const std::vector<bool> committed = AtomicFile::CommitTogether(files, flush);
  std::vector<Outcome> outcomes;
  for (std::size_t i = 0; i < files.size(); ++i) {
    outcomes.push_back(committed[i] ? Succeeded() : CannotWrite(paths[i], files[i]->Error()));
  }
  return outcomes;
}

namespace {

// A BMP through the library's encoder, refused before anything is written
// when it cannot fit the format's 32-bit sizes. The encoder writes the
// uncompressed size into a run-length file's header and leaves its image size
// empty: both are set from what was written.
Outcome SaveBmp(FIBITMAP* image, const std::string& path, int flags) {
  const bool runLengths = FreeImage_GetBPP(image) == 8 && (flags & BMP_SAVE_RLE) != 0;
  const std::uint64_t paletteEntries = FreeImage_GetPalette(image) != nullptr ? FreeImage_GetColorsUsed(image) : 0;
  const std::uint64_t size =
      UncompressedBmpSize(FreeImage_GetWidth(image), FreeImage_GetHeight(image), FreeImage_GetBPP(image), paletteEntries);
  // Run lengths may fit where the plain pixels do not: their size is checked as they are written.
  if (!runLengths && size > kLargestBmp) return TooLargeForBmp(size);
  auto file = AtomicFile::Create(path);
  if (!file) return CannotWrite(path, errno);
  const auto pixelOffset = static_cast<std::int64_t>(kFileHeaderSize + kInfoHeaderSize + 4 * paletteEntries);
  BmpStream stream{&*file, runLengths, pixelOffset};
  FreeImageIO io{NoReadProc, BmpWriteProc, BmpSeekProc, BmpTellProc};
  const bool encoded = FreeImage_SaveToHandle(FIF_BMP, image, &io, static_cast<fi_handle>(&stream), flags) != FALSE;
  if (stream.tooLarge) return TooLargeForBmp(0);
  if (file->Failed()) return CannotWrite(path, file->Error());
  if (!encoded) return CannotEncode(FIF_BMP);
  if (runLengths) {
    const auto end = static_cast<std::uint32_t>(file->Tell());
    unsigned char field[4];
    PutLittleEndian32(field, end);
    file->Seek(kFileSizeAt, SEEK_SET) && file->Write(field, 4);
    PutLittleEndian32(field, end - static_cast<std::uint32_t>(pixelOffset));
    file->Seek(kImageSizeAt, SEEK_SET) && file->Write(field, 4);
  }
  return Finish(*file, path);
}

}  // namespace

Outcome SaveImage(FIBITMAP* image, int formatId, const std::string& path, int flags) {
  if (image == nullptr || !FreeImage_HasPixels(image)) return Failed("there is no image to save");
  if (formatId == FIF_BMP) return SaveBmp(image, path, flags);
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

std::uint64_t UncompressedBmpSize(unsigned width, unsigned height, unsigned bpp, std::uint64_t paletteEntries) {
  const std::uint64_t rowBytes = (std::uint64_t{width} * bpp + 31) / 32 * 4;
  const std::uint64_t masks = bpp == 16 ? 12 : 0;
  return kFileHeaderSize + kInfoHeaderSize + masks + 4 * paletteEntries + rowBytes * height;
}

Outcome RefuseInputAsOutput(const std::string& inputPath, const std::string& outputPath) {
  struct stat input {}, output {};
  if (::stat(inputPath.c_str(), &input) != 0 || ::stat(outputPath.c_str(), &output) != 0) return Succeeded();
  if (input.st_dev != output.st_dev || input.st_ino != output.st_ino) return Succeeded();
  return Failed("the output " + outputPath + " is the input file itself");
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

Outcome WriteBmpExactColourTable(FIBITMAP* image, const std::string& path, int flags, BmpLayout layout) {
  if (image == nullptr || FreeImage_GetBPP(image) != 8 || FreeImage_GetPalette(image) == nullptr) {
    return Failed("an exact colour table needs an 8-bit image with a palette");
  }
  layout.exactColourTable = true;
  return WriteRelaidBmp(image, path, flags, layout);
}

Outcome WriteRelaidBmp(FIBITMAP* image, const std::string& path, int flags, BmpLayout layout) {
  if (image == nullptr || !FreeImage_HasPixels(image)) return Failed("there is no image to save");
  const bool exact = layout.exactColourTable && FreeImage_GetBPP(image) == 8 && FreeImage_GetPalette(image) != nullptr;
  const std::size_t headerSize = layout.v5Header ? kBmpV5HeaderSize : kInfoHeaderSize;
  const std::size_t used = exact ? static_cast<std::size_t>(CountUsedPaletteEntries(image))
                           : FreeImage_GetPalette(image) != nullptr ? FreeImage_GetColorsUsed(image)
                                                                    : 0;
  const std::uint64_t size = UncompressedBmpSize(FreeImage_GetWidth(image), FreeImage_GetHeight(image),
                                                 FreeImage_GetBPP(image), used) + (headerSize - kInfoHeaderSize);
  if ((flags & BMP_SAVE_RLE) == 0 && size > kLargestBmp) return TooLargeForBmp(size);
  std::unique_ptr<FIMEMORY, MemoryClose> stream(FreeImage_OpenMemory(nullptr, 0));
  BYTE* encoded = nullptr;
  DWORD encodedSize = 0;
  if (!stream || !FreeImage_SaveToMemory(FIF_BMP, image, stream.get(), flags) ||
      !FreeImage_AcquireMemory(stream.get(), &encoded, &encodedSize) ||
      encodedSize < kFileHeaderSize + kInfoHeaderSize) {
    return CannotEncode(FIF_BMP);
  }
  // The memory stream's own size, which the acquired 32-bit size would wrap.
  const long written = FreeImage_TellMemory(stream.get());
  if (written < 0 || static_cast<std::uint64_t>(written) > kLargestBmp) return TooLargeForBmp(0);
  // Pixel data follows the encoder's masks and full table; take its offset from its own header.
  const std::size_t pixelOffset = GetLittleEndian32(encoded + 10);
  if (pixelOffset > encodedSize) return CannotEncode(FIF_BMP);
  const std::size_t pixelSize = encodedSize - pixelOffset;
  const std::uint32_t encodedCompression = GetLittleEndian32(encoded + kCompressionAt);

  // The 40-byte header keeps a 16-bit file's masks after it; the V5 header holds them.
  const bool separateMasks = !layout.v5Header && FreeImage_GetBPP(image) == 16 && encodedCompression == kBitFields;
  const std::size_t tableOffset = kFileHeaderSize + headerSize + (separateMasks ? 12 : 0);
  const std::size_t dataOffset = tableOffset + 4 * used;
  std::vector<unsigned char> file(dataOffset + pixelSize, 0);

  file[0] = 'B';
  file[1] = 'M';
  PutLittleEndian32(&file[2], static_cast<std::uint32_t>(file.size()));
  PutLittleEndian32(&file[10], static_cast<std::uint32_t>(dataOffset));

  BITMAPINFOHEADER info = *FreeImage_GetInfoHeader(image);
  info.biSize = kInfoHeaderSize;
  // The encoder's own word on compression: BI_RGB, BI_BITFIELDS, or BI_RLE8 when it wrote run lengths.
  info.biCompression = encodedCompression;
  info.biSizeImage = static_cast<DWORD>(pixelSize);
  if (exact) info.biClrUsed = info.biClrImportant = static_cast<DWORD>(used);
  static_assert(sizeof(BITMAPINFOHEADER) == kInfoHeaderSize);
  if (layout.v5Header) {
    const bool green565 = FreeImage_GetGreenMask(image) == FI16_565_GREEN_MASK;
    const auto v5 = BmpV5Header(info, green565);
    std::memcpy(&file[kFileHeaderSize], v5.data(), v5.size());
  } else {
    std::memcpy(&file[kFileHeaderSize], &info, kInfoHeaderSize);
    if (separateMasks) std::memcpy(&file[kFileHeaderSize + kInfoHeaderSize], encoded + kFileHeaderSize + kInfoHeaderSize, 12);
  }

  if (used > 0) std::memcpy(&file[tableOffset], FreeImage_GetPalette(image), 4 * used);
  std::memcpy(&file[dataOffset], encoded + pixelOffset, pixelSize);
  if (encodedCompression == kRunLength8) ClearRunLengthPadding(&file[dataOffset], pixelSize);
  if (file.size() > kLargestBmp) return TooLargeForBmp(file.size());
  auto output = AtomicFile::Create(path);
  if (!output) return CannotWrite(path, errno);
  output->Write(file.data(), file.size());
  return Finish(*output, path);
}

}  // namespace kestrel
