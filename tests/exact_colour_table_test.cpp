// 8-bit BMP files whose colour table holds only the entries in use.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "output/save.h"
#include "tests/support/test_bitmaps.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

std::uint32_t Field32(const std::string& file, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(file[offset + i]);
  return value;
}

// An 8-bit palettised image whose pixel (x, y) has index (x + y) % colours;
// the palette entries past `colours` are filled too, so a file that copied
// too many of them would show it.
ImagePtr IndexedImage(unsigned width, unsigned height, unsigned colours) {
  ImagePtr image = Adopt(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
  RGBQUAD* palette = FreeImage_GetPalette(image.get());
  for (unsigned i = 0; i < 256; ++i) {
    palette[i] = RGBQUAD{static_cast<BYTE>(i * 40), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 17), 0};
  }
  for (unsigned y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) line[x] = static_cast<BYTE>((x + y) % colours);
  }
  return image;
}

// The file's pixels as ImageMagick reads them: red, green, blue per pixel, top
// line first. FreeImage's own BMP reader does not read RLE8 files (not even
// the ones its encoder writes), so an independent reader checks both codings.
std::string ReadWithImageMagick(const std::string& bmp) {
  const std::string raw = bmp + ".rgb";
  const std::string command = "convert '" + bmp + "' -depth 8 'rgb:" + raw + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  return test::ReadText(raw);
}

// Whether the picture read back shows palette colour (x + y) % 16 at every
// pixel, y counted from the top line, or from the bottom line as a BMP stores
// its lines.
::testing::AssertionResult ShowsTheIndexPattern(const std::string& bmp, const RGBQUAD* palette, unsigned width,
                                                unsigned height, bool fromTop) {
  const std::string rgb = ReadWithImageMagick(bmp);
  if (rgb.size() != std::size_t(width) * height * 3) {
    return ::testing::AssertionFailure() << "ImageMagick read " << rgb.size() << " bytes";
  }
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const RGBQUAD want = palette[(x + (fromTop ? y : height - 1 - y)) % 16];
      const auto* got = reinterpret_cast<const unsigned char*>(rgb.data()) + (std::size_t(y) * width + x) * 3;
      if (got[0] != want.rgbRed || got[1] != want.rgbGreen || got[2] != want.rgbBlue) {
        return ::testing::AssertionFailure() << "wrong colour at " << x << "," << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

struct TableCase {
  const char* name;
  int flags;
  std::uint32_t compression;
};

void PrintTo(const TableCase& value, std::ostream* out) { *out << value.name; }

class ExactColourTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(ExactColourTable, SixteenColoursGiveASixteenEntryTable) {
  const unsigned width = 37, height = 11;  // odd width: lines carry padding
  ImagePtr image = IndexedImage(width, height, 16);
  test::TempDir dir;
  const std::string path = dir.File("out.bmp");
  ASSERT_TRUE(WriteBmpExactColourTable(image.get(), path, GetParam().flags));

  const std::string file = test::ReadText(path);
  ASSERT_GT(file.size(), 118u);
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(Field32(file, 2), file.size());
  EXPECT_EQ(Field32(file, 10), 118u);                 // 14 + 40 + 16 * 4
  EXPECT_EQ(Field32(file, 14), 40u);                  // biSize
  EXPECT_EQ(Field32(file, 18), width);
  EXPECT_EQ(Field32(file, 22), height);
  EXPECT_EQ(Field32(file, 30), GetParam().compression);
  EXPECT_EQ(Field32(file, 34), file.size() - 118);    // biSizeImage
  EXPECT_EQ(Field32(file, 46), 16u);                  // biClrUsed
  EXPECT_EQ(Field32(file, 50), 16u);                  // biClrImportant
  const RGBQUAD* palette = FreeImage_GetPalette(image.get());
  for (unsigned i = 0; i < 16; ++i) {
    EXPECT_EQ(static_cast<BYTE>(file[54 + 4 * i]), palette[i].rgbBlue) << i;
    EXPECT_EQ(static_cast<BYTE>(file[54 + 4 * i + 1]), palette[i].rgbGreen) << i;
    EXPECT_EQ(static_cast<BYTE>(file[54 + 4 * i + 2]), palette[i].rgbRed) << i;
  }
  // A reader gets the same picture back.
  EXPECT_TRUE(ShowsTheIndexPattern(path, palette, width, height, false));
  if (GetParam().flags == BMP_DEFAULT) {
    ImagePtr back = Adopt(FreeImage_Load(FIF_BMP, path.c_str(), 0));
    ASSERT_TRUE(back);
    for (unsigned y = 0; y < height; ++y) {
      const BYTE* line = FreeImage_GetScanLine(back.get(), static_cast<int>(y));
      for (unsigned x = 0; x < width; ++x) ASSERT_EQ(line[x], (x + y) % 16) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codings, ExactColourTable,
                         ::testing::Values(TableCase{"Plain", BMP_DEFAULT, 0}, TableCase{"Rle8", BMP_SAVE_RLE, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExactColourTableWriter, RefusesWhatItCannotWrite) {
  test::TempDir dir;
  EXPECT_FALSE(WriteBmpExactColourTable(nullptr, dir.File("a.bmp"), 0));
  EXPECT_FALSE(WriteBmpExactColourTable(test::MakeBitmap(8, 4, 24).get(), dir.File("b.bmp"), 0));
  EXPECT_FALSE(WriteBmpExactColourTable(IndexedImage(8, 4, 16).get(), dir.File("missing/c.bmp"), 0));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(CountUsedPaletteEntries, LargestIndexInUsePlusOne) {
  const struct {
    const char* name;
    unsigned width, height;
    unsigned x, y;  // where the one non-zero index goes
    BYTE index;
    int expected;
  } cases[] = {
      {"all zero", 5, 3, 0, 0, 0, 1},
      {"first pixel", 5, 3, 0, 0, 9, 10},
      {"last pixel of the last line", 5, 3, 4, 2, 200, 201},
      {"index 255", 4, 4, 2, 1, 255, 256},
      {"one pixel", 1, 1, 0, 0, 3, 4},
  };
  for (const auto& c : cases) {
    ImagePtr image = Adopt(FreeImage_Allocate(static_cast<int>(c.width), static_cast<int>(c.height), 8));
    for (unsigned y = 0; y < c.height; ++y) {
      BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
      for (unsigned i = 0; i < FreeImage_GetPitch(image.get()); ++i) line[i] = 0;
    }
    FreeImage_GetScanLine(image.get(), static_cast<int>(c.y))[c.x] = c.index;
    EXPECT_EQ(CountUsedPaletteEntries(image.get()), c.expected) << c.name;
  }
}

TEST(CountUsedPaletteEntries, PaddingBytesAreNotPixels) {
  ImagePtr image = IndexedImage(5, 3, 4);  // pitch 8: three bytes of padding per line
  for (unsigned y = 0; y < 3; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned i = 5; i < FreeImage_GetPitch(image.get()); ++i) line[i] = 250;
  }
  EXPECT_EQ(CountUsedPaletteEntries(image.get()), 4);
}

// Through the program: a generated indexed file with 16 colours, kept at 8 bits.
TEST(ExactColourTableConversion, WritesTheUsedEntriesOnlyAndAPlainOrRleHeader) {
  const struct {
    const char* compression;
    std::uint32_t biCompression;
  } cases[] = {{"NONE", 0}, {"RLE", 1}, {"ZLIB9", 0}, {"LZW", 0}};
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string input = test::MakePsd(dir.Path(), "in.psd", "indexed8", 21, 9);
    const auto run = test::RunKestrel({"-q", "-i", input, "--bmp-bpp=8", "--bmp-color-table=EXACT",
                                       std::string("--bmp-compression=") + c.compression});
    ASSERT_EQ(run.exitCode, 0) << c.compression << run.out;
    const std::string file = test::ReadText(dir.File("in.bmp"));
    ASSERT_GT(file.size(), 118u) << c.compression;
    EXPECT_EQ(Field32(file, 10), 118u) << c.compression;
    EXPECT_EQ(Field32(file, 30), c.biCompression) << c.compression;
    EXPECT_EQ(Field32(file, 46), 16u) << c.compression;
    // The generator's palette: red i * 17, green 255 - i * 17, blue i * 40.
    RGBQUAD palette[16];
    for (unsigned i = 0; i < 16; ++i) {
      palette[i] = RGBQUAD{static_cast<BYTE>(i * 40), static_cast<BYTE>(255 - i * 17), static_cast<BYTE>(i * 17), 0};
    }
    EXPECT_TRUE(ShowsTheIndexPattern(dir.File("in.bmp"), palette, 21, 9, true)) << c.compression;
  }
}

TEST(ExactColourTableConversion, OtherDepthsAreSavedAsUsual) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "in.psd", "indexed8", 21, 9);
  const auto run = test::RunKestrel({"-q", "-i", input, "--bmp-bpp=24", "--bmp-color-table=EXACT"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  const std::string file = test::ReadText(dir.File("in.bmp"));
  ASSERT_GT(file.size(), 54u);
  EXPECT_EQ(Field32(file, 10), 54u);
  EXPECT_EQ(static_cast<unsigned char>(file[28]), 24u);
}

}  // namespace
}  // namespace kestrel
