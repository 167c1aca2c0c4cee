#include "engine/confine/picture_header.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The file as the checks see it: bounded reads of little- and big-endian fields.
class Bytes {
 public:
  Bytes(std::uint64_t size, const ByteSource& read, std::uint64_t base = 0) : size_(size), read_(read), base_(base) {}
  std::uint64_t Size() const { return size_; }
  bool Get(std::uint64_t offset, void* out, std::size_t size) const {
    return offset <= size_ && size <= size_ - offset && read_(base_ + offset, out, size);
  }
  bool Le(std::uint64_t offset, std::size_t width, std::uint32_t& value) const { return Field(offset, width, false, value); }
  bool Be(std::uint64_t offset, std::size_t width, std::uint32_t& value) const { return Field(offset, width, true, value); }
  // The same reader over `size` bytes from `offset`.
  Bytes Part(std::uint64_t offset, std::uint64_t size) const { return Bytes(size, read_, base_ + offset); }

 private:
  bool Field(std::uint64_t offset, std::size_t width, bool bigEndian, std::uint32_t& value) const {
    std::uint8_t b[4] = {};
    if (!Get(offset, b, width)) return false;
    value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint32_t{b[bigEndian ? i : width - 1 - i]} << (8 * (width - 1 - i));
    return true;
  }
  std::uint64_t size_;
  const ByteSource& read_;
  std::uint64_t base_;
};

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

// Bytes of one stored row of `bits`-per-pixel pixels, padded to 4 bytes.
std::uint64_t StoredRowBytes(std::int64_t width, std::uint32_t bits) {
  return (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
}

PictureHeaderCheck CheckPng(const Bytes& file) {
  std::uint32_t length = 0, width = 0, height = 0;
  char type[4] = {};
  if (!file.Be(8, 4, length) || !file.Get(12, type, 4) || !file.Be(16, 4, width) || !file.Be(20, 4, height)) {
    return Truncated("PNG");
  }
  if (length != 13 || std::memcmp(type, "IHDR", 4) != 0) return Refuse("damaged PNG: no image header");
  if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return Sized(FIF_PNG, "PNG", -1, -1);
  return Sized(FIF_PNG, "PNG", width, height);
}

PictureHeaderCheck CheckBmp(const Bytes& file) {
  std::uint32_t infoSize = 0;
  if (!file.Le(14, 4, infoSize)) return Truncated("BMP");
  std::int64_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = 0;
  if (infoSize == 12) {  // OS/2 1.x: unsigned 16-bit sizes, no compression
    std::uint32_t w = 0, h = 0;
    if (!file.Le(18, 2, w) || !file.Le(20, 2, h) || !file.Le(24, 2, bits)) return Truncated("BMP");
    width = w;
    height = h;
  } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 || infoSize == 108 ||
             infoSize == 124) {
    std::uint32_t w = 0, h = 0;
    if (!file.Le(18, 4, w) || !file.Le(22, 4, h) || !file.Le(28, 2, bits) || !file.Le(30, 4, compression)) {
      return Truncated("BMP");
    }
    width = static_cast<std::int32_t>(w);
    // A negative height stores the rows top-down.
    height = static_cast<std::int32_t>(h);
    if (height < 0) height = -height;
  } else {
    return Refuse("unsupported BMP: header size " + std::to_string(infoSize));
  }
  if (14 + std::uint64_t{infoSize} > file.Size()) return Truncated("BMP");
  // The pixels start where the file header says, after the headers and inside the file.
  std::uint32_t pixelOffset = 0;
  if (!file.Le(10, 4, pixelOffset)) return Truncated("BMP");
  if (pixelOffset < 14 + std::uint64_t{infoSize} || pixelOffset >= file.Size()) {
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
  if (check.ok && !runLength && StoredRowBytes(width, bits) * static_cast<std::uint64_t>(height) > file.Size() - pixelOffset) {
    return Refuse("damaged BMP: the file is shorter than its " + std::to_string(width) + " x " + std::to_string(height) +
                  " pixels");
  }
  return check;
}

// An icon file: the first image of its directory is the one read, a PNG or a
// bitmap whose height counts the colour rows and the mask rows.
PictureHeaderCheck CheckIco(const Bytes& file) {
  std::uint32_t count = 0, bytes = 0, offset = 0;
  if (!file.Le(4, 2, count) || !file.Le(6 + 8, 4, bytes) || !file.Le(6 + 12, 4, offset)) return Truncated("ICO");
  if (count == 0) return Refuse("damaged ICO: no images");
  if (6 + 16ull * count > file.Size()) return Refuse("damaged ICO: the file ends in its directory");
  if (std::uint64_t{offset} + bytes > file.Size() || bytes < 40) {
    return Refuse("damaged ICO: the first image lies outside the file");
  }
  const Bytes image = file.Part(offset, bytes);
  std::uint8_t signature[8] = {};
  if (!image.Get(0, signature, sizeof signature)) return Truncated("ICO");
  if (std::memcmp(signature, kPngSignature, sizeof signature) == 0) {
    PictureHeaderCheck check = CheckPng(image);
    if (check.ok) check.header.format = FIF_ICO;
    return check;
  }
  std::uint32_t infoSize = 0, w = 0, h = 0, bits = 0, compression = 0;
  if (!image.Le(0, 4, infoSize) || !image.Le(4, 4, w) || !image.Le(8, 4, h) || !image.Le(14, 2, bits) ||
      !image.Le(16, 4, compression)) {
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
bool ExifDirectoryInside(const Bytes& tiff) {
  char order[2] = {};
  if (!tiff.Get(0, order, 2) || order[0] != order[1] || (order[0] != 'I' && order[0] != 'M')) return false;
  const bool big = order[0] == 'M';
  std::uint32_t magic = 0, offset = 0, count = 0;
  const auto field = [&](std::uint64_t at, std::size_t width, std::uint32_t& value) {
    return big ? tiff.Be(at, width, value) : tiff.Le(at, width, value);
  };
  if (!field(2, 2, magic) || magic != 42 || !field(4, 4, offset) || offset < 8) return false;
  if (!field(offset, 2, count)) return false;
  return std::uint64_t{offset} + 2 + 12ull * count <= tiff.Size();
}

// Walks the markers up to the frame header, which declares the size, and
// checks the Exif blocks on the way.
PictureHeaderCheck CheckJpeg(const Bytes& file) {
  std::uint64_t at = 2;
  for (;;) {
    std::uint8_t mark[2] = {};
    if (!file.Get(at, mark, 2)) return Refuse("damaged JPEG: no frame header");
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
    if (!file.Be(at + 2, 2, length) || length < 2) return Refuse("damaged JPEG: bad segment length");
    char exif[6] = {};
    if (mark[1] == 0xE1 && length >= 8 && file.Get(at + 4, exif, 6) && std::memcmp(exif, "Exif\0\0", 6) == 0 &&
        !ExifDirectoryInside(file.Part(at + 10, std::min<std::uint64_t>(length - 8, file.Size() - std::min(file.Size(), at + 10))))) {
      return Refuse("damaged JPEG: an Exif directory runs past its block");
    }
    if (IsFrameMarker(mark[1])) {
      std::uint32_t height = 0, width = 0;
      if (length < 8 || !file.Be(at + 5, 2, height) || !file.Be(at + 7, 2, width)) return Truncated("JPEG");
      if (height == 0) return Refuse("unsupported JPEG: the height is given after the image data");
      return Sized(FIF_JPEG, "JPEG", width, height);
    }
    at += 2 + length;
  }
}

}  // namespace

PictureHeaderCheck CheckPictureHeader(std::uint64_t fileSize, const ByteSource& read) {
  const Bytes file(fileSize, read);
  std::uint8_t magic[8] = {};
  if (!file.Get(0, magic, std::min<std::uint64_t>(sizeof magic, fileSize))) return Truncated("picture");
  if (magic[0] == 'B' && magic[1] == 'M') return CheckBmp(file);
  if (magic[0] == 0 && magic[1] == 0 && magic[2] == 1 && magic[3] == 0) return CheckIco(file);
  if (magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return CheckJpeg(file);
  if (std::memcmp(magic, kPngSignature, sizeof kPngSignature) == 0) return CheckPng(file);
  return Refuse("not a picture the watermark can use (BMP, ICO, JPEG or PNG)");
}

PictureHeaderCheck CheckPictureHeader(std::span<const std::uint8_t> bytes) {
  return CheckPictureHeader(bytes.size(), [bytes](std::uint64_t offset, void* out, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    if (size > 0) std::memcpy(out, bytes.data() + offset, size);
    return true;
  });
}

}  // namespace kestrel
