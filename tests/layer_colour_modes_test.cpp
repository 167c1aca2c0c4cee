// CMYK and Lab layers composited against an independent compositor: small
// files from tools/make_psd.py hold a layer per blend mode over an opaque
// one, at 8 and 16 bits, and a merged image that is psd-tools' composite of
// them. Both pictures go through the same colour conversion to be shown, so
// they must agree to within a step.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/composite/compositor.h"
#include "engine/psd/document.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "engine/decode/merged_image.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

TEST(LayerColourModes, EachBlendModeInCmykAndLabMatchesPsdToolsComposite) {
  test::TempDir temp;
  constexpr int kStrip = 4;  // pixels of each blend mode's strip
  for (const char* kind : {"cmyk8-layers", "cmyk16-layers", "lab8-layers", "lab16-layers"}) {
    const std::string path = temp.File(std::string(kind) + ".psd");
    const std::string command = "/usr/bin/python3 '" + test::SourcePath("tools/make_psd.py") + "' '" + path + "' " +
                                kind + " " + std::to_string(kStrip) + " 2";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const PsdHeaderCheck check = CheckPsdHeader(bytes);
    ASSERT_TRUE(check.ok) << kind << ": " << check.problem;
    const LayerComposite ours = CompositeLayers(ReadPsdDocument(bytes, check.header));
    ASSERT_TRUE(ours.image) << kind << ": " << ours.problem;
    const ImagePtr theirs = DecodeMergedImage(ReadPsdDocument(bytes, check.header));
    ASSERT_TRUE(theirs) << kind;
    const unsigned width = FreeImage_GetWidth(theirs.get());
    ASSERT_EQ(FreeImage_GetWidth(ours.image.get()), width) << kind;
    for (unsigned y = 0; y < FreeImage_GetHeight(theirs.get()); ++y) {
      for (unsigned x = 0; x < width; ++x) {
        RGBQUAD a{}, b{};
        FreeImage_GetPixelColor(ours.image.get(), x, y, &a);
        FreeImage_GetPixelColor(theirs.get(), x, y, &b);
        const std::string where = std::string(kind) + " strip " + std::to_string(x / kStrip) + " of BLEND_STRIPS, x " +
                                  std::to_string(x) + " y " + std::to_string(y);
        EXPECT_NEAR(a.rgbRed, b.rgbRed, 1) << where;
        EXPECT_NEAR(a.rgbGreen, b.rgbGreen, 1) << where;
        EXPECT_NEAR(a.rgbBlue, b.rgbBlue, 1) << where;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
