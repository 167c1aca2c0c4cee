// The version 5 header: its fields as written, and the files read back with
// their alpha by ImageMagick, Pillow and a browser (Chromium, headless, over
// a checkerboard page), through tools/bmp_in_readers.py.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "output/bmp_v5_header.h"
#include "output/save.h"
#include "tests/support/test_bitmaps.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

std::uint32_t Field(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The pixels as ImageMagick reads them, red, green and blue, in hexadecimal.
std::string MagickPixels(const std::string& path) {
  return test::CommandOutput("convert '" + path + "' -depth 8 rgb:- | od -An -tx1 | tr -d ' \\n'");
}

// The rgba8 fixture converted: alpha 0 in the first column, 255 in the last.
class BmpV5 : public ::testing::Test {
 protected:
  std::string Convert(std::vector<std::string> options, const std::string& name) {
    std::vector<std::string> arguments = {"-q", "-i", input, "-o", dir.Path(), "--filename-mask=" + name};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const auto run = test::RunKestrel(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    return dir.File(name);
  }
  std::string Reader(const std::string& reader, const std::string& path) {
    return test::CommandOutput("/usr/bin/python3 '" + test::SourcePath("tools/bmp_in_readers.py") + "' " + reader +
                               " '" + path + "' 2>/dev/null");
  }

  test::TempDir dir;
  std::string input = test::MakePsd(dir.Path(), "clear.psd", "rgba8", 8, 4);
};

TEST_F(BmpV5, HeaderFieldsAtEveryDepth) {
  const struct {
    const char* depth;
    std::uint32_t compression, red, green, blue, alpha;
  } cases[] = {
      {"32", 3, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
      {"24", 0, 0, 0, 0, 0},
      {"16", 3, 0xF800, 0x07E0, 0x001F, 0},
      {"8", 0, 0, 0, 0, 0},
      {"4", 0, 0, 0, 0, 0},
      {"1", 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    const std::string path = Convert({"--bmp-header=v5", std::string("--bmp-bpp=") + c.depth}, "v5");
    const std::string bytes = test::ReadText(path);
    ASSERT_GT(bytes.size(), 14u + kBmpV5HeaderSize);
    EXPECT_EQ(Field(bytes, 14), kBmpV5HeaderSize);
    EXPECT_EQ(Field(bytes, 14 + 16), c.compression);
    EXPECT_EQ(Field(bytes, 14 + 40), c.red);
    EXPECT_EQ(Field(bytes, 14 + 44), c.green);
    EXPECT_EQ(Field(bytes, 14 + 48), c.blue);
    EXPECT_EQ(Field(bytes, 14 + 52), c.alpha);
    EXPECT_EQ(Field(bytes, 14 + 56), 0x73524742u);  // sRGB
    EXPECT_EQ(Field(bytes, 2), bytes.size());
    // The pixels are those of the basic file, the table too; only the header differs.
    const std::string basic = test::ReadText(Convert({std::string("--bmp-bpp=") + c.depth}, "basic"));
    const std::uint32_t table = 14 + Field(bytes, 14), basicTable = 14 + 40 + (Field(basic, 14 + 16) == 3 ? 12 : 0);
    EXPECT_EQ(bytes.substr(table), basic.substr(basicTable));
    // ImageMagick reads it as the same picture.
    EXPECT_EQ(MagickPixels(path), MagickPixels(dir.File("basic")));
  }
}

TEST_F(BmpV5, RunLengthsAndExactTablesKeepTheirLayout) {
  const std::string path = Convert({"--bmp-header=v5", "--bmp-bpp=8", "--bmp-compression=rle", "--bmp-color-table=exact"}, "rle");
  const std::string bytes = test::ReadText(path);
  EXPECT_EQ(Field(bytes, 14), kBmpV5HeaderSize);
  EXPECT_EQ(Field(bytes, 14 + 16), 1u);  // BI_RLE8
  const std::uint32_t used = Field(bytes, 14 + 32);
  EXPECT_EQ(Field(bytes, 10), 14 + kBmpV5HeaderSize + 4 * used);
  const std::string basic =
      Convert({"--bmp-bpp=8", "--bmp-compression=rle", "--bmp-color-table=exact"}, "basic");
  EXPECT_EQ(MagickPixels(path), MagickPixels(basic));
}

TEST_F(BmpV5, ImageMagickAndPillowReadTheAlpha) {
  const std::string v5 = Convert({"--bmp-header=v5"}, "v5");
  for (const char* reader : {"imagemagick", "pillow"}) {
    const auto alpha = Words(Reader(reader, v5));
    ASSERT_EQ(alpha.size(), 8u) << reader;
    EXPECT_EQ(alpha.front(), "0") << reader;
    EXPECT_EQ(alpha.back(), "255") << reader;
    for (std::size_t x = 1; x < 7; ++x) EXPECT_EQ(alpha[x], std::to_string(x * 255 / 7)) << reader << " " << x;
  }
}

TEST_F(BmpV5, ABrowserShowsThePageThroughTheTransparentPixels) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0) KESTREL_CANNOT_RUN("chromium is not installed");
  // The basic header is shown opaque: the clear column shows the background colour.
  const auto basic = Words(Reader("chromium", Convert({}, "basic")));
  ASSERT_EQ(basic.size(), 8u);
  EXPECT_EQ(basic[0], "255,255,255");
  // The V5 header lets the checkerboard through where the picture is clear,
  // and shows the same colour where it is opaque.
  const auto v5 = Words(Reader("chromium", Convert({"--bmp-header=v5"}, "v5")));
  ASSERT_EQ(v5.size(), 8u);
  EXPECT_TRUE(v5[0] == "255,0,255" || v5[0] == "0,255,0") << v5[0];
  EXPECT_EQ(v5[7], basic[7]);
}

}  // namespace
}  // namespace kestrel
