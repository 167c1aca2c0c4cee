// Large but valid layered files convert within the decoder's memory: fill
// layers drawn from their settings are painted a row at a time, with no
// canvas of their own. The files are generated here, small on disk however
// large their canvas.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/bitmap/image.h"
#include "engine/decode/confined_psd.h"
#include "engine/decode/memory_need.h"
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

// Groups nested one in another (tools/make_psd.py nested-groups), each
// normal at 78 % opacity over a fill: each level is drawn on a canvas of its
// own, and the child is given what the deepest nesting holds. At the corners
// every fill takes its end colour; the colour of a level is its fill under
// the level above at 78 %.
TEST(LargeLayers, SixNestedGroupsOverALargeCanvasConvert) {
  test::TempDir dir;
  constexpr int kLevels = 6;
  const std::string input = test::MakePsd(dir.Path(), "nested.psd", "nested-groups:6", 5000, 5000);
  test::RunOptions options;
  options.timeoutSeconds = 600;  // a guard against a hang: under the sanitizers on a busy machine it takes minutes
  const test::RunResult result = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "kestrel: " + input + ": the picture was rebuilt from 6 layers\n");
  const ImagePtr saved(FreeImage_Load(FIF_BMP, dir.File("nested.bmp").c_str(), 0));
  ASSERT_TRUE(saved);
  ASSERT_EQ(FreeImage_GetBPP(saved.get()), 32u);
  const auto nested = [](auto fillColour) {
    double colour = fillColour(kLevels - 1);
    for (int level = kLevels - 2; level >= 0; --level) colour = fillColour(level) * 0.22 + colour * 0.78;
    return colour;
  };
  const Rgb start{static_cast<int>(nested([](int i) { return (i * 37) % 256; }) + 0.5), 20, 200};
  const Rgb end{250, static_cast<int>(nested([](int i) { return (i * 91) % 256; }) + 0.5), 10};
  const struct {
    unsigned x, y;
    Rgb colour;
  } corners[] = {{0, 4999, start}, {4999, 0, end}};
  for (const auto& corner : corners) {
    const Rgb got = PixelAt(saved.get(), corner.x, corner.y);
    // Each level's canvas holds 8-bit samples: a step of rounding a level.
    EXPECT_NEAR(got.r, corner.colour.r, 3) << corner.x;
    EXPECT_NEAR(got.g, corner.colour.g, 3) << corner.x;
    EXPECT_EQ(got.b, corner.colour.b) << corner.x;
    RGBQUAD q{};
    FreeImage_GetPixelColor(saved.get(), corner.x, 4999 - corner.y, &q);
    EXPECT_EQ(q.rgbReserved, 199);  // the outermost group's opacity over nothing
  }
}

// The estimate made before the layers are drawn counts a canvas for each
// level of groups nested: under the same budget one level converts, six are
// refused with the reason before anything is decoded.
TEST(LargeLayers, NestedGroupsBeyondTheBudgetAreRefusedBeforeDecoding) {
  test::TempDir dir;
  const std::string one = test::MakePsd(dir.Path(), "one.psd", "nested-groups:1", 1000, 1000);
  const std::string six = test::MakePsd(dir.Path(), "six.psd", "nested-groups:6", 1000, 1000);
  // Canvases of 4 MB: the merged image (3 MB), the picture's and its output's,
  // then one a level.
  SetMemoryBudgetForTesting(24ull << 20);
  const ImageResult flat = LoadPsdSandboxed(one, 0);
  const ImageResult deep = LoadPsdSandboxed(six, 0);
  SetMemoryBudgetForTesting(0);
  EXPECT_TRUE(flat.image) << flat.failure;
  EXPECT_FALSE(deep.image);
  EXPECT_TRUE(deep.failure.starts_with("converting a 1000x1000 image of 8 bits per channel needs about 3"))
      << deep.failure;
  EXPECT_TRUE(deep.failure.ends_with("of memory, more than the 24 MB it may use")) << deep.failure;
}

// A large-document file of 30001x30000 with a gradient fill: converted when
// the estimate made before decoding finds room for it (the fill costs a row,
// not planes of the canvas), otherwise refused up front with the estimate's
// reason; never stopped midway by its decoder's limit. Under the sanitizers,
// whose allocator is slow and changes what the memory holds, the same path
// runs on a tenth of each side.
TEST(LargeLayers, AHugeLargeDocumentWithAFillIsConvertedOrRefusedUpFront) {
  const std::uint64_t width = kSanitizedBuild ? 3001 : 30001;
  const std::uint64_t height = kSanitizedBuild ? 3000 : 30000;
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "huge.psb", "gradient-fills:1", static_cast<int>(width),
                                          static_cast<int>(height));
  test::RunOptions options;
  options.timeoutSeconds = 900;
  const test::RunResult result = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()}, options);
  const std::string output = dir.File("huge.bmp");
  if (result.exitCode == 0) {
    EXPECT_EQ(result.err, "kestrel: " + input + ": the picture was rebuilt from 1 layer\n");
    // A 24-bit BMP: the 54-byte headers, then rows padded to four bytes.
    EXPECT_EQ(std::filesystem::file_size(output), 54u + (width * 3 + 3) / 4 * 4 * height);
  } else {
    // Whether it fits depends on the memory free at the run: the reason, not its figures.
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(output));
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    EXPECT_NE(result.err.find(": converting a " + size + " image of 8 bits per channel needs about "),
              std::string::npos)
        << result.err;
  }
  std::filesystem::remove(output);
}

}  // namespace
}  // namespace kestrel
