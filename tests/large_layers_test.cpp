// Large but valid layered files convert within the decoder's memory: fill
// layers drawn from their settings are painted a row at a time, with no
// canvas of their own. The files are generated here, small on disk however
// large their canvas.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <filesystem>
#include <string>

#include "engine/bitmap/image.h"
#include "platform/sanitizer.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

Rgb PixelAt(FIBITMAP* image, unsigned x, unsigned y) {
  RGBQUAD q{};
  FreeImage_GetPixelColor(image, x, FreeImage_GetHeight(image) - 1 - y, &q);
  return Rgb{q.rgbRed, q.rgbGreen, q.rgbBlue};
}

void PrintTo(const Rgb& p, std::ostream* os) { *os << "(" << p.r << ", " << p.g << ", " << p.b << ")"; }

// A gradient fill over a 5000x5000 canvas, running at 30 degrees from
// (0, 20, 200) to (250, 0, 10) (tools/make_psd.py): the corners beyond its
// ends take the end colours.
TEST(LargeLayers, AGradientFillOverAWholeLargeCanvasConverts) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "fill.psd", "gradient-fills:1", 5000, 5000);
  const test::RunResult result = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "kestrel: " + input + ": the picture was rebuilt from 1 layer\n");
  const ImagePtr saved(FreeImage_Load(FIF_BMP, dir.File("fill.bmp").c_str(), 0));
  ASSERT_TRUE(saved);
  ASSERT_EQ(FreeImage_GetWidth(saved.get()), 5000u);
  ASSERT_EQ(FreeImage_GetHeight(saved.get()), 5000u);
  EXPECT_EQ(PixelAt(saved.get(), 0, 4999), (Rgb{0, 20, 200}));
  EXPECT_EQ(PixelAt(saved.get(), 4999, 0), (Rgb{250, 0, 10}));
}

// A large-document file of 30001x30000 with a gradient fill: converted (the
// fill costs a row, not planes of the canvas), or on a smaller machine
// refused before decoding with the reason; never stopped midway. Too slow
// under the sanitizers, whose allocator also changes what the memory holds;
// it runs in the release suite.
TEST(LargeLayers, AHugeLargeDocumentWithAFillIsConvertedOrRefusedUpFront) {
  if (kSanitizedBuild) GTEST_SKIP() << "a 900-megapixel conversion is too slow under the sanitizers";
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "huge.psb", "gradient-fills:1", 30001, 30000);
  test::RunOptions options;
  options.timeoutSeconds = 900;
  const test::RunResult result = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()}, options);
  const std::string output = dir.File("huge.bmp");
  if (result.exitCode == 0) {
    EXPECT_EQ(result.err, "kestrel: " + input + ": the picture was rebuilt from 1 layer\n");
    // A 24-bit BMP: the 54-byte headers, then rows of 30001 pixels padded to four bytes.
    EXPECT_EQ(std::filesystem::file_size(output), 54u + (30001u * 3 + 3) / 4 * 4 * 30000u);
  } else {
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(": converting a 30001x30000 image of 8 bits per channel needs about "),
              std::string::npos)
        << result.err;
  }
  std::filesystem::remove(output);
}

}  // namespace
}  // namespace kestrel
