// Colours of layer settings turned into a file's samples. Within a mode the
// samples follow from the descriptor's numbers; across modes the expected
// values are the ones Photoshop itself wrote for the same colours of its
// default blue-red-yellow gradient, saved once in an RGB and once in a Lab file.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/psd/header.h"

namespace kestrel {
namespace {

DescriptorValue Colour(const std::vector<std::pair<std::string, double>>& numbers) {
  DescriptorValue value;
  value.type = DescriptorValue::Type::Object;
  for (const auto& [key, number] : numbers) {
    DescriptorValue item;
    item.type = DescriptorValue::Type::Number;
    item.number = number;
    value.items.push_back(DescriptorItem{key, item});
  }
  return value;
}

DescriptorValue Rgb(double r, double g, double b) { return Colour({{"Rd  ", r}, {"Grn ", g}, {"Bl  ", b}}); }
DescriptorValue Lab(double l, double a, double b) { return Colour({{"Lmnc", l}, {"A   ", a}, {"B   ", b}}); }

// Lab samples as fractions: L of 100, a and b centred at 8 or 16 bits.
std::vector<double> LabSamples(double l, double a, double b, int depth) {
  auto centred = [depth](double v) { return depth == 16 ? (v * 256 + 32768) / 65535 : (v + 128) / 255; };
  return {l / 100, centred(a), centred(b)};
}

TEST(DescriptorColour, ColoursBecomeTheSamplesOfTheFileMode) {
  struct Case {
    const char* name;
    int mode;
    int depth;
    DescriptorValue colour;
    std::vector<double> expected;  // fractions, in the file's channel order
    double tolerance;
  };
  const std::vector<Case> cases = {
      {"rgb_in_rgb", kPsdModeRgb, 8, Rgb(255, 51, 0), {1.0, 0.2, 0.0}, 1e-6},
      {"hsb_in_rgb", kPsdModeRgb, 8, Colour({{"H   ", 240}, {"Strt", 100}, {"Brgh", 50}}), {0, 0, 0.5}, 1e-6},
      {"hsb_wrapped_hue", kPsdModeRgb, 8, Colour({{"H   ", 420}, {"Strt", 50}, {"Brgh", 100}}), {1, 1, 0.5}, 1e-6},
      {"grey_ink_in_grey", kPsdModeGreyscale, 16, Colour({{"Gry ", 25}}), {0.75}, 1e-6},
      // CMYK is stored as 1 - ink.
      {"cmyk_in_cmyk", kPsdModeCmyk, 8, Colour({{"Cyn ", 100}, {"Mgnt", 93.79}, {"Ylw ", 3.31}, {"Blck", 0}}),
       {0, 0.0621, 0.9669, 1}, 1e-6},
      {"lab_in_lab_8", kPsdModeLab, 8, Lab(19.07, 52.29, -85.08), LabSamples(19.07, 52.29, -85.08, 8), 1e-6},
      {"lab_in_lab_16", kPsdModeLab, 16, Lab(19.07, 52.29, -85.08), LabSamples(19.07, 52.29, -85.08, 16), 1e-6},
      // Across modes, within an 8-bit step of Photoshop's own conversion.
      {"rgb_blue_in_lab", kPsdModeLab, 16, Rgb(9.607, 0.0067, 178.004), LabSamples(19.07, 52.29, -85.08, 16), 0.003},
      {"rgb_red_in_lab", kPsdModeLab, 8, Rgb(254.988, 0.103, 0.030), LabSamples(54.29, 80.8, 69.89, 8), 0.003},
      {"rgb_yellow_in_lab", kPsdModeLab, 8, Rgb(255, 252.016, 0.055), LabSamples(96.84, -14.39, 92.87, 8), 0.003},
      {"lab_blue_in_rgb", kPsdModeRgb, 8, Lab(19.07, 52.29, -85.08), {9.607 / 255, 0.0067 / 255, 178.004 / 255}, 0.003},
      {"lab_yellow_in_rgb", kPsdModeRgb, 8, Lab(96.84, -14.39, 92.87), {1, 252.016 / 255, 0.055 / 255}, 0.003},
      // Without a CMYK profile, red is full magenta and yellow, and black all black ink.
      {"rgb_red_in_cmyk", kPsdModeCmyk, 8, Rgb(255, 0, 0), {1, 0, 0, 1}, 1e-6},
      {"rgb_dark_in_cmyk", kPsdModeCmyk, 8, Rgb(0, 0, 0), {1, 1, 1, 0}, 1e-6},
      {"cmyk_in_rgb", kPsdModeRgb, 8, Colour({{"Cyn ", 100}, {"Mgnt", 0}, {"Ylw ", 0}, {"Blck", 50}}), {0, 0.5, 0.5},
       1e-6},
      {"white_rgb_in_grey", kPsdModeGreyscale, 8, Rgb(255, 255, 255), {1}, 1e-6},
  };
  for (const Case& c : cases) {
    const DescriptorColours colours(c.mode, c.depth);
    ASSERT_EQ(static_cast<std::size_t>(colours.Channels()), c.expected.size()) << c.name;
    float out[4] = {-1, -1, -1, -1};
    ASSERT_TRUE(colours.Read(c.colour, out)) << c.name;
    for (std::size_t k = 0; k < c.expected.size(); ++k) EXPECT_NEAR(out[k], c.expected[k], c.tolerance) << c.name << " " << k;
  }
}

TEST(DescriptorColour, IncompleteOrUnknownColoursAreRefused) {
  const DescriptorColours cmyk(kPsdModeCmyk, 8);
  const DescriptorColours indexed(kPsdModeIndexed, 8);
  float out[4];
  EXPECT_FALSE(cmyk.Read(Colour({{"Cyn ", 50}, {"Mgnt", 50}, {"Ylw ", 50}}), out));  // no black
  EXPECT_FALSE(cmyk.Read(Colour({{"Bk  ", 1}}), out));
  EXPECT_FALSE(cmyk.Read(DescriptorValue{}, out));
  EXPECT_FALSE(indexed.Read(Rgb(1, 2, 3), out));
}

}  // namespace
}  // namespace kestrel
