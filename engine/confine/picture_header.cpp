#include "engine/confine/picture_header.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The checks read fields at offsets from the start of a part of the file
// (the whole file, an icon's first image, an Exif block) through the one byte
// reader: `part` stands at the part's start and ends where it ends.
std::uint64_t Size(const ByteReader& part) { return part.Left(); }

bool Get(const ByteReader& part, std::uint64_t at, void* out, std::size_t size) {
  if (at > part.Left()) return false;
  ByteReader field = part.Range(part.At() + at, size);
  return field.Copy(out, size);
}

bool Field(const ByteReader& part, std::uint64_t at, int width, bool bigEndian, std::uint32_t& value) {
  if (at > part.Left()) return false;
  ByteReader field = part.Range(part.At() + at, static_cast<std::uint64_t>(width));
  value = static_cast<std::uint32_t>(bigEndian ? field.Big(width) : field.Little(width));
  return field.Ok();
}
bool Le(const ByteReader& part, std::uint64_t at, int width, std::uint32_t& value) { return Field(part, at, width, false, value); }
bool Be(const ByteReader& part, std::uint64_t at, int width, std::uint32_t& value) { return Field(part, at, width, true, value); }

// The `size` bytes `offset` bytes into `part`, as a part of their own.
ByteReader Part(const ByteReader& part, std::uint64_t offset, std::uint64_t size) { return part.Range(part.At() + offset, size); }

PictureHeaderCheck Refuse(std::string problem) {
  PictureHeaderCheck check;
  check.problem = std::move(problem);
  return check;
}

PictureHeaderCheck Truncated(const char* kind) { return Refuse(std::string("damaged ") + kind + ": the file ends in its header"); }

// The declared size, refused when empty or over the layer cap.
PictureHeaderCheck Sized(FREE_IMAGE_FORMAT format, const char* kind, std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0) {
    return Refuse(std::string("damaged ") + kind + ": size " + std::to_string(width) + " x " + std::to_string(height));
  }
  if (width * height > kMaxLayerPixels) {
    return Refuse("picture too large: " + std::to_string(width) + " x " + std::to_string(height) + " pixels (at most " +
                  std::to_string(kMaxLayerPixels) + ")");
  }
  PictureHeaderCheck check;
  check.ok = true;
  check.header = PictureHeader{format, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
  return check;
}

bool StandardBitCount(std::uint32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// ByteReader of one stored row of `bits`-per-pixel pixels, padded to 4 bytes.
std::uint64_t StoredRowBytes(std::int64_t width, std::uint32_t bits) {
  return (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
}

PictureHeaderCheck CheckPng(const ByteReader& file) {
  std::uint32_t length = 0, width = 0, height = 0;
  char type[4] = {};
  if (!Be(file, 8, 4, length) || !Get(file, 12, type, 4) || !Be(file, 16, 4, width) || !Be(file, 20, 4, height)) {
    return Truncated("PNG");
  }
  if (length != 13 || std::memcmp(type, "IHDR", 4) != 0) return Refuse("damaged PNG: no image header");
  if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return Sized(FIF_PNG, "PNG", -1, -1);
  return Sized(FIF_PNG, "PNG", width, height);
}

PictureHeaderCheck CheckBmp(const ByteReader& file) {
  std::uint32_t infoSize = 0;
  if (!Le(file, 14, 4, infoSize)) return Truncated("BMP");
  std::int64_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = 0;
  if (infoSize == 12) {  // OS/2 1.x: unsigned 16-bit sizes, no compression
    std::uint32_t w = 0, h = 0;
    if (!Le(file, 18, 2, w) || !Le(file, 20, 2, h) || !Le(file, 24, 2, bits)) return Truncated("BMP");
    width = w;
    height = h;
  } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 || infoSize == 108 ||
             infoSize == 124) {
    std::uint32_t w = 0, h = 0;
    if (!Le(file, 18, 4, w) || !Le(file, 22, 4, h) || !Le(file, 28, 2, bits) || !Le(file, 30, 4, compression)) {
      return Truncated("BMP");
    }
    width = static_cast<std::int32_t>(w);
    // A negative height stores the rows top-down.
    height = static_cast<std::int32_t>(h);
    if (height < 0) height = -height;
  } else {
    return Refuse("unsupported BMP: header size " + std::to_string(infoSize));
  }
  if (14 + std::uint64_t{infoSize} > Size(file)) return Truncated("BMP");
  // The pixels start where the file header says, after the headers and inside the file.
  std::uint32_t pixelOffset = 0;
  if (!Le(file, 10, 4, pixelOffset)) return Truncated("BMP");
  if (pixelOffset < 14 + std::uint64_t{infoSize} || pixelOffset >= Size(file)) {
    return Refuse("damaged BMP: pixel data offset " + std::to_string(pixelOffset) + " outside the file");
  }
  if (!StandardBitCount(bits)) return Refuse("unsupported BMP: " + std::to_string(bits) + " bits per pixel");
  const bool bitFields = compression == 3 && infoSize != 64 && (bits == 16 || bits == 32);
  const bool runLength = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
  if (compression != 0 && !bitFields && !runLength) {
    return Refuse("unsupported BMP: compression " + std::to_string(compression) + " with " + std::to_string(bits) +
                  " bits per pixel");
  }
  PictureHeaderCheck check = Sized(FIF_BMP, "BMP", width, height);
  // Uncompressed rows take a known room: a file too short for them is damaged.
  if (check.ok && !runLength && StoredRowBytes(width, bits) * static_cast<std::uint64_t>(height) > Size(file) - pixelOffset) {
    return Refuse("damaged BMP: the file is shorter than its " + std::to_string(width) + " x " + std::to_string(height) +
                  " pixels");
  }
  return check;
}

// An icon file: the first image of its directory is the one read, a PNG or a
// bitmap whose height counts the colour rows and the mask rows.
PictureHeaderCheck CheckIco(const ByteReader& file) {
  std::uint32_t count = 0, bytes = 0, offset = 0;
  if (!Le(file, 4, 2, count) || !Le(file, 6 + 8, 4, bytes) || !Le(file, 6 + 12, 4, offset)) return Truncated("ICO");
  if (count == 0) return Refuse("damaged ICO: no images");
  if (6 + 16ull * count > Size(file)) return Refuse("damaged ICO: the file ends in its directory");
  if (std::uint64_t{offset} + bytes > Size(file) || bytes < 40) {
    return Refuse("damaged ICO: the first image lies outside the file");
  }
  const ByteReader image = Part(file, offset, bytes);
  std::uint8_t signature[8] = {};
  if (!Get(image, 0, signature, sizeof signature)) return Truncated("ICO");
  if (std::memcmp(signature, kPngSignature, sizeof signature) == 0) {
    PictureHeaderCheck check = CheckPng(image);
    if (check.ok) check.header.format = FIF_ICO;
    return check;
  }
  std::uint32_t infoSize = 0, w = 0, h = 0, bits = 0, compression = 0;
  if (!Le(image, 0, 4, infoSize) || !Le(image, 4, 4, w) || !Le(image, 8, 4, h) || !Le(image, 14, 2, bits) ||
      !Le(image, 16, 4, compression)) {
    return Truncated("ICO");
  }
  if (infoSize != 40) return Refuse("unsupported ICO: header size " + std::to_string(infoSize));
  if (!StandardBitCount(bits)) return Refuse("unsupported ICO: " + std::to_string(bits) + " bits per pixel");
  if (compression != 0) return Refuse("unsupported ICO: compression " + std::to_string(compression));
  const std::int64_t width = static_cast<std::int32_t>(w);
  const std::int64_t storedHeight = static_cast<std::int32_t>(h);
  if (storedHeight < 0) return Refuse("damaged ICO: height " + std::to_string(storedHeight));
  PictureHeaderCheck check = Sized(FIF_ICO, "ICO", width, storedHeight / 2);
  if (!check.ok) return check;
  const std::uint64_t palette = bits <= 8 ? 4ull << bits : 0;
  if (40 + palette + StoredRowBytes(width, bits) * (storedHeight / 2) > bytes) {
    return Refuse("damaged ICO: the image is shorter than its " + std::to_string(width) + " x " +
                  std::to_string(storedHeight / 2) + " pixels");
  }
  return check;
}

bool IsFrameMarker(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// An Exif block (the body of an APP1 segment after "Exif\0\0") whose first
// directory lies inside it; the library's Exif reader trusts the counts.
bool ExifDirectoryInside(const ByteReader& tiff) {
  char order[2] = {};
  if (!Get(tiff, 0, order, 2) || order[0] != order[1] || (order[0] != 'I' && order[0] != 'M')) return false;
  const bool big = order[0] == 'M';
  std::uint32_t magic = 0, offset = 0, count = 0;
  const auto field = [&](std::uint64_t at, int width, std::uint32_t& value) {
    return Field(tiff, at, width, big, value);
  };
  if (!field(2, 2, magic) || magic != 42 || !field(4, 4, offset) || offset < 8) return false;
  if (!field(offset, 2, count)) return false;
  return std::uint64_t{offset} + 2 + 12ull * count <= Size(tiff);
}

// Walks the markers up to the frame header, which declares the size, and
// checks the Exif blocks on the way.
PictureHeaderCheck CheckJpeg(const ByteReader& file) {
  std::uint64_t at = 2;
  for (;;) {
    std::uint8_t mark[2] = {};
    if (!Get(file, at, mark, 2)) return Refuse("damaged JPEG: no frame header");
    if (mark[0] != 0xFF) return Refuse("damaged JPEG: no marker at byte " + std::to_string(at));
    if (mark[1] == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (mark[1] == 0x01 || (mark[1] >= 0xD0 && mark[1] <= 0xD7)) {  // markers without a length
      at += 2;
      continue;
    }
    if (mark[1] == 0xD8 || mark[1] == 0xD9 || mark[1] == 0xDA) return Refuse("damaged JPEG: no frame header");
    std::uint32_t length = 0;
    if (!Be(file, at + 2, 2, length) || length < 2) return Refuse("damaged JPEG: bad segment length");
    char exif[6] = {};
    if (mark[1] == 0xE1 && length >= 8 && Get(file, at + 4, exif, 6) && std::memcmp(exif, "Exif\0\0", 6) == 0 &&
        !ExifDirectoryInside(Part(file, at + 10, std::min<std::uint64_t>(length - 8, Size(file) - std::min(Size(file), at + 10))))) {
      return Refuse("damaged JPEG: an Exif directory runs past its block");
    }
    if (IsFrameMarker(mark[1])) {
      std::uint32_t height = 0, width = 0;
      if (length < 8 || !Be(file, at + 5, 2, height) || !Be(file, at + 7, 2, width)) return Truncated("JPEG");
      if (height == 0) return Refuse("unsupported JPEG: the height is given after the image data");
      return Sized(FIF_JPEG, "JPEG", width, height);
    }
    at += 2 + length;
  }
}

}  // namespace

PictureHeaderCheck CheckPictureHeader(std::uint64_t fileSize, const ByteSource& read) {
  const ByteReader file(read, fileSize);
  std::uint8_t magic[8] = {};
  if (!Get(file, 0, magic, std::min<std::uint64_t>(sizeof magic, fileSize))) return Truncated("picture");
  if (magic[0] == 'B' && magic[1] == 'M') return CheckBmp(file);
  if (magic[0] == 0 && magic[1] == 0 && magic[2] == 1 && magic[3] == 0) return CheckIco(file);
  if (magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return CheckJpeg(file);
  if (std::memcmp(magic, kPngSignature, sizeof kPngSignature) == 0) return CheckPng(file);
  return Refuse("not a picture the watermark can use (BMP, ICO, JPEG or PNG)");
}

PictureHeaderCheck CheckPictureHeader(std::span<const std::uint8_t> bytes) {
  return CheckPictureHeader(bytes.size(), SourceOf(bytes));
}

}  // namespace kestrel
