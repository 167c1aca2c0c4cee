// Watermark pictures: the header check against the sizes the library reads
// from pictures it wrote, the refusals of what no decoder should see, the
// confined load against the library's own load, and paths that are no
// regular file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "engine/confine/picture_header.h"
#include "engine/confine/picture_load.h"
#include "engine/confine/picture_thumbnail.h"
#include "support/decoration_bitmaps.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;

std::vector<std::uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A picture of distinct colours, with alpha when asked.
ImagePtr Sample(unsigned bpp, unsigned width, unsigned height) {
  ImagePtr picture = Adopt(FreeImage_Allocate(width, height, bpp, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
  for (unsigned y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(picture.get(), y);
    for (unsigned x = 0; x < width; ++x, line += bpp / 8) {
      line[FI_RGBA_RED] = BYTE(30 * x);
      line[FI_RGBA_GREEN] = BYTE(50 * y);
      line[FI_RGBA_BLUE] = BYTE(7 * x * y);
      if (bpp == 32) line[FI_RGBA_ALPHA] = BYTE(40 * (x + y) + 15);
    }
  }
  return picture;
}

// Pictures the library writes, in every kind the watermark reads: the header
// check finds the size the library finds, and the confined load gives the
// library's own pixels (converted to 24 or 32 bits as the layer wants them).
TEST(PictureLoad, AgreesWithTheLibraryOnPicturesItWrote) {
  TempDir dir;
  struct Case {
    const char* name;
    FREE_IMAGE_FORMAT format;
    unsigned bpp;
    int flags;
    unsigned width = 7, height = 5;  // icons: square
  };
  const Case cases[] = {{"p24.bmp", FIF_BMP, 24, 0},  {"p32.bmp", FIF_BMP, 32, 0},     {"p8.bmp", FIF_BMP, 8, 0},
                        {"p.ico", FIF_ICO, 32, 0, 16, 16}, {"p8.ico", FIF_ICO, 8, 0, 16, 16},
                        {"p.jpg", FIF_JPEG, 24, 0}, {"p.png", FIF_PNG, 32, 0},        {"p8.png", FIF_PNG, 8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImagePtr picture = Sample(c.bpp == 32 ? 32 : 24, c.width, c.height);
    if (c.bpp == 8) picture = Adopt(FreeImage_ColorQuantize(picture.get(), FIQ_WUQUANT));
    const std::string path = dir.File(c.name);
    ASSERT_TRUE(FreeImage_Save(c.format, picture.get(), path.c_str(), c.flags));

    const PictureHeaderCheck check = CheckPictureHeader(Bytes(path));
    ASSERT_TRUE(check.ok) << check.problem;
    EXPECT_EQ(check.header.format, c.format);
    ImagePtr reference = Adopt(FreeImage_Load(c.format, path.c_str(), c.format == FIF_ICO ? ICO_MAKEALPHA : 0));
    ASSERT_TRUE(reference);
    EXPECT_EQ(check.header.width, FreeImage_GetWidth(reference.get()));
    EXPECT_EQ(check.header.height, FreeImage_GetHeight(reference.get()));

    const ImageResult loaded = LoadPictureSandboxed(path);
    ASSERT_TRUE(loaded.image) << loaded.failure;
    ImagePtr expected(PictureAsRgb(reference.get(), c.format == FIF_BMP));
    if (expected.get() == reference.get()) reference.release();
    const unsigned bpp = FreeImage_GetBPP(expected.get());
    ASSERT_EQ(FreeImage_GetBPP(loaded.image.get()), bpp);
    for (unsigned y = 0; y < check.header.height; ++y) {
      EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(loaded.image.get(), y), FreeImage_GetScanLine(expected.get(), y),
                            check.header.width * bpp / 8), 0) << "row " << y;
    }
  }
}

std::vector<std::uint8_t> Le(std::initializer_list<std::pair<std::uint32_t, int>> fields) {
  std::vector<std::uint8_t> bytes;
  for (const auto& [value, width] : fields) {
    for (int i = 0; i < width; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
  }
  return bytes;
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "BM" file header, then an info header of `infoSize` bytes.
std::vector<std::uint8_t> Bmp(std::uint32_t width, std::uint32_t height, std::uint32_t bits, std::uint32_t compression,
                              std::size_t pixelBytes, std::uint32_t pixelOffset = 54) {
  return Le({{'B' | ('M' << 8), 2}, {0, 4}, {0, 4}, {pixelOffset, 4}, {40, 4}, {width, 4}, {height, 4}, {1, 2}, {bits, 2},
             {compression, 4}, {0, 4}, {0, 4}, {0, 4}, {0, 4}, {0, 4}}) +
         std::vector<std::uint8_t>(pixelBytes);
}

std::vector<std::uint8_t> Os2Bmp(std::uint32_t width, std::uint32_t height) {
  return Le({{'B' | ('M' << 8), 2}, {0, 4}, {0, 4}, {26, 4}, {12, 4}, {width, 2}, {height, 2}, {1, 2}, {24, 2}}) +
         std::vector<std::uint8_t>(64);
}

// An icon file of one bitmap image.
std::vector<std::uint8_t> Ico(std::uint32_t width, std::uint32_t storedHeight, std::uint32_t bits, std::size_t data) {
  return Le({{0, 2}, {1, 2}, {1, 2}, {width & 0xFF, 1}, {(storedHeight / 2) & 0xFF, 1}, {0, 1}, {0, 1}, {1, 2},
             {bits, 2}, {std::uint32_t(40 + data), 4}, {22, 4}, {40, 4}, {width, 4}, {storedHeight, 4}, {1, 2},
             {bits, 2}, {0, 4}, {0, 4}, {0, 4}, {0, 4}, {0, 4}, {0, 4}}) +
         std::vector<std::uint8_t>(data);
}

// SOI, an APP0 segment, then a baseline frame header of the size.
std::vector<std::uint8_t> Jpeg(std::uint16_t width, std::uint16_t height) {
  return std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J', 'F', 0xFF, 0xFF, 0xC0, 0x00, 0x0B, 8,
                                   std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8),
                                   std::uint8_t(width), 1, 1, 0x11, 0, 0xFF, 0xD9};
}

// A JPEG whose APP1 Exif block (little-endian) has its first directory at
// `offset` with `entries` entries, and room for one entry.
std::vector<std::uint8_t> ExifJpeg(std::uint32_t offset, std::uint32_t entries) {
  std::vector<std::uint8_t> tiff = Le({{'I' | ('I' << 8), 2}, {42, 2}, {offset, 4}, {entries, 2}, {0, 4},
                                        {0, 4}, {0, 4}, {0, 4}});
  const std::uint32_t length = std::uint32_t(2 + 6 + tiff.size());
  std::vector<std::uint8_t> app1{0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length), 'E', 'x', 'i', 'f', 0, 0};
  std::vector<std::uint8_t> jpeg = Jpeg(64, 32);
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  jpeg.insert(jpeg.begin() + 2 + long(app1.size()), tiff.begin(), tiff.end());
  return jpeg;
}

std::vector<std::uint8_t> Png(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (const std::uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(std::uint8_t(v >> shift));
  }
  return bytes + std::vector<std::uint8_t>{8, 6, 0, 0, 0, 0, 0, 0, 0};
}

// Headers built by hand: the sizes they declare, and the refusals made before
// any decoder runs, with the reason's opening words.
TEST(PictureHeader, DeclaredSizesAndRefusals) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::uint32_t width, height;  // 0: refused
    const char* problem;
  };
  const std::uint32_t minus5 = std::uint32_t(-5);
  const Case cases[] = {
      {"bmp", Bmp(3, 2, 24, 0, 24), 3, 2, ""},
      {"top-down bmp", Bmp(3, minus5, 24, 0, 60), 3, 5, ""},
      {"bmp 20000x20000 in 70 bytes", Bmp(20000, 20000, 24, 0, 16), 0, 0, "picture too large: 20000 x 20000"},
      {"bmp short of its rows", Bmp(64, 48, 24, 0, 100), 0, 0, "damaged BMP: the file is shorter"},
      {"run-length bmp at the cap", Bmp(16384, 16384, 8, 1, 1024), 16384, 16384, ""},
      {"run-length bmp over the cap", Bmp(16384, 16385, 8, 1, 1024), 0, 0, "picture too large"},
      {"run-length bmp with its pixels past the end", Bmp(16, 16, 8, 1, 64, 0xFFFF0436), 0, 0, "damaged BMP: pixel data offset"},
      {"bmp with its pixels inside its header", Bmp(3, 2, 24, 0, 24, 20), 0, 0, "damaged BMP: pixel data offset"},
      {"bmp of 13 bits", Bmp(3, 2, 13, 0, 64), 0, 0, "unsupported BMP: 13 bits"},
      {"bmp zero width", Bmp(0, 2, 24, 0, 64), 0, 0, "damaged BMP: size 0 x 2"},
      {"bmp jpeg compression", Bmp(3, 2, 24, 4, 64), 0, 0, "unsupported BMP: compression 4"},
      {"os/2 bmp", Os2Bmp(4, 3), 4, 3, ""},
      {"os/2 bmp 65535x65535", Os2Bmp(65535, 65535), 0, 0, "picture too large: 65535 x 65535"},
      {"icon", Ico(16, 32, 32, 16 * 16 * 4 + 64), 16, 16, ""},
      {"icon of 13 bits", Ico(16, 32, 13, 1024), 0, 0, "unsupported ICO: 13 bits"},
      {"icon of negative height", Ico(16, std::uint32_t(-32), 32, 1024), 0, 0, "damaged ICO: height -32"},
      {"icon short of its rows", Ico(64, 128, 32, 1024), 0, 0, "damaged ICO: the image is shorter"},
      {"jpeg", Jpeg(640, 480), 640, 480, ""},
      {"jpeg 20000x20000", Jpeg(20000, 20000), 0, 0, "picture too large: 20000 x 20000"},
      {"jpeg height given later", Jpeg(640, 0), 0, 0, "unsupported JPEG"},
      {"jpeg without frame", std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xD9}, 0, 0, "damaged JPEG: no frame header"},
      {"jpeg with exif", ExifJpeg(8, 1), 64, 32, ""},
      {"jpeg exif of 65535 entries", ExifJpeg(8, 65535), 0, 0, "damaged JPEG: an Exif directory"},
      {"jpeg exif directory at 7", ExifJpeg(7, 1), 0, 0, "damaged JPEG: an Exif directory"},
      {"png", Png(300, 200), 300, 200, ""},
      {"png 2^31 wide", Png(0x80000000u, 1), 0, 0, "damaged PNG"},
      {"png over the cap", Png(65536, 65536), 0, 0, "picture too large"},
      {"gif", std::vector<std::uint8_t>{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, 0, 0, "not a picture"},
      {"empty", {}, 0, 0, "not a picture"},
      {"truncated bmp", std::vector<std::uint8_t>{'B', 'M', 0, 0}, 0, 0, "damaged BMP: the file ends"},
  };
  for (const Case& c : cases) {
    const PictureHeaderCheck check = CheckPictureHeader(c.bytes);
    EXPECT_EQ(check.ok, c.width != 0) << c.what << ": " << check.problem;
    if (c.width != 0) {
      EXPECT_EQ(check.header.width, c.width) << c.what;
      EXPECT_EQ(check.header.height, c.height) << c.what;
    } else {
      EXPECT_EQ(check.problem.rfind(c.problem, 0), 0u) << c.what << ": " << check.problem;
    }
  }
}

// A FIFO (which a blocking open would wait on forever) and a folder are
// refused at once; so is a file that is gone.
TEST(PictureLoad, PathsThatAreNoRegularFile) {
  TempDir dir;
  const std::string fifo = dir.File("mark.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Without a writer, opening the FIFO would block: reaching the next line is the check.
  EXPECT_EQ(LoadPictureSandboxed(fifo).failure, "not a regular file");
  EXPECT_EQ(LoadPictureSandboxed(dir.Path()).failure, "not a regular file");
  EXPECT_EQ(LoadPictureSandboxed(dir.File("gone.png")).failure, "cannot open: No such file or directory");
}

// The preview takes a picture only when the watermark would: a BMP short of
// its rows, which FreeImage itself reads (filling what is missing), is refused
// unread, as the watermark's loader refuses it.
TEST(PicturePreview, RefusesWhatTheWatermarksHeaderCheckRefuses) {
  TempDir dir;
  const std::vector<std::uint8_t> shortBmp = Bmp(8, 8, 24, 0, 100);
  std::ofstream(dir.File("short.bmp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(shortBmp.data()), static_cast<std::streamsize>(shortBmp.size()));
  FIBITMAP* library = FreeImage_Load(FIF_BMP, dir.File("short.bmp").c_str(), 0);
  ASSERT_NE(library, nullptr) << "FreeImage no longer reads a short BMP; pick another refused picture";
  FreeImage_Unload(library);
  EXPECT_EQ(CheckPictureHeader(shortBmp).problem.rfind("damaged BMP: the file is shorter", 0), 0u);
  EXPECT_FALSE(ReadPictureThumbnail(dir.File("short.bmp"), 48));
  const std::vector<std::uint8_t> whole = Bmp(8, 8, 24, 0, 8 * 24);
  std::ofstream(dir.File("whole.bmp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
  const std::optional<Thumbnail> thumbnail = ReadPictureThumbnail(dir.File("whole.bmp"), 48);
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(thumbnail->width, 8);
}

}  // namespace
}  // namespace kestrel
