// A colour lookup layer's .cube table against the profile Photoshop made of
// the same table and keeps beside it: LittleCMS runs that profile (a device
// link) over a grid of colours, and the layer's adjustment must give the same.
#include <gtest/gtest.h>

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/composite/adjustment_layers.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/document.h"
#include "engine/psd/header.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

TEST(CorpusColourLookup, TheCubeTableGivesWhatPhotoshopsProfileOfItGives) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  std::ifstream in(test::CorpusPath("psd-fx/adj_agpsd_stack-16-kinds.psd"), std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const PsdHeaderCheck check = CheckPsdHeader(bytes);
  ASSERT_TRUE(check.ok) << check.problem;
  const PsdDocument document = ReadPsdDocument(bytes, check.header);
  const PsdLayer* lookup = nullptr;
  for (const PsdLayer& layer : document.layers.layers) {
    if (layer.adjustment.key == FourCC("clrL")) lookup = &layer;
  }
  ASSERT_NE(lookup, nullptr);
  const PsdBlockRef& block = lookup->adjustment;
  const std::optional<DescriptorValue> settings =
      ReadVersionedDescriptor(std::span(bytes).subspan(block.offset, block.length), 2);
  ASSERT_TRUE(settings);
  const DescriptorValue* profile = settings->Find("profile");
  ASSERT_NE(profile, nullptr);

  const DescriptorColours colours(document.header.colourMode, document.header.depth);
  const std::optional<ColourAdjustment> ours = ReadColourAdjustment(bytes, *lookup, document.header, colours);
  ASSERT_TRUE(ours);

  const std::unique_ptr<void, decltype(&cmsCloseProfile)> link(
      cmsOpenProfileFromMem(profile->text.data(), static_cast<cmsUInt32Number>(profile->text.size())), cmsCloseProfile);
  ASSERT_TRUE(link);
  const std::unique_ptr<void, decltype(&cmsDeleteTransform)> transform(
      cmsCreateTransform(link.get(), TYPE_RGB_FLT, nullptr, TYPE_RGB_FLT, INTENT_PERCEPTUAL,
                         cmsFLAGS_NOWHITEONWHITEFIXUP | cmsFLAGS_NOOPTIMIZE),
      cmsDeleteTransform);
  ASSERT_TRUE(transform);

  // Every colour of a grid of 11 steps a channel, off the table's own steps.
  std::vector<float> grid;
  for (int r = 0; r <= 10; ++r)
    for (int g = 0; g <= 10; ++g)
      for (int b = 0; b <= 10; ++b) grid.insert(grid.end(), {r / 10.0f, g / 10.0f, b / 10.0f});
  const std::size_t pixels = grid.size() / 3;
  std::vector<float> photoshop(grid.size());
  cmsDoTransform(transform.get(), grid.data(), photoshop.data(), static_cast<cmsUInt32Number>(pixels));
  ours->Apply(grid.data(), pixels);
  float worst = 0;
  for (std::size_t i = 0; i < grid.size(); ++i) worst = std::max(worst, std::abs(grid[i] - photoshop[i]));
  EXPECT_LT(worst * 255, 0.1f) << "steps of 255 apart at worst";
}

}  // namespace
}  // namespace kestrel
