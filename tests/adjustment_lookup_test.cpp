// Colour lookup tables read from .cube text and applied between their entries.
// (Photoshop's own profile of such a table is checked in the corpus tests.)
#include <gtest/gtest.h>

#include <string>

#include "engine/composite/adjustment_lookup.h"

namespace kestrel {
namespace {

// A two-step table that turns red round and keeps green and blue: linear, so
// looking up between its entries is exact. Entries go red fastest.
std::string RedTurnedRound(const std::string& header) {
  std::string text = "# made by hand\r\nTITLE \"red turned round\"\r\nLUT_3D_SIZE 2\r\n" + header;
  for (int b = 0; b < 2; ++b)
    for (int g = 0; g < 2; ++g)
      for (int r = 0; r < 2; ++r) text += std::to_string(1 - r) + " " + std::to_string(g) + " " + std::to_string(b) + "\r\n";
  return text;
}

DescriptorValue Settings(const std::string& format, const std::string& table) {
  DescriptorValue settings;
  settings.type = DescriptorValue::Type::Object;
  DescriptorValue kind, data;
  kind.type = DescriptorValue::Type::Enum;
  kind.text = format;
  data.text = table;
  settings.items = {{"LUTFormat", kind}, {"LUT3DFileData", data}};
  return settings;
}

TEST(ColourLookup, LooksPixelsUpBetweenTheEntries) {
  const struct {
    const char* name;
    std::string header;
    float in[3], out[3];
  } cases[] = {
      {"unit domain", "", {0.25f, 0.5f, 0.75f}, {0.75f, 0.5f, 0.75f}},
      {"corner", "", {1, 0, 1}, {0, 0, 1}},
      {"domain to 2", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2.0 2.0 2.0\n", {0.5f, 1, 0}, {0.75f, 0.5f, 0}},
  };
  for (const auto& c : cases) {
    const std::optional<PixelMix> lookup = ReadColourLookup(Settings("LUTFormatCUBE", RedTurnedRound(c.header)));
    ASSERT_TRUE(lookup) << c.name;
    float pixel[3] = {c.in[0], c.in[1], c.in[2]};
    (*lookup)(pixel, 1);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(pixel[k], c.out[k], 1e-5f) << c.name << " channel " << k;
  }
}

TEST(ColourLookup, RefusesTablesItCannotRead) {
  const std::string good = RedTurnedRound("");
  const std::string cases[] = {
      good.substr(0, good.size() - 8),            // an entry short
      good + "0 0 0\n",                           // an entry too many
      "0 0 0\n" + good,                           // an entry before the size
      "LUT_3D_SIZE 1\n0 0 0\n",                   // too small to look between
      "LUT_3D_SIZE 2.5\n",                        // not a whole size
      "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n",            // one-dimensional
      RedTurnedRound("DOMAIN_MIN 1 1 1\nDOMAIN_MAX 1 1 1\n"),  // an empty domain
      "",
  };
  for (const std::string& text : cases) EXPECT_FALSE(ReadCube(text)) << text;
  EXPECT_TRUE(ReadCube(good));
  // Only .cube tables are read.
  EXPECT_FALSE(ReadColourLookup(Settings("LUTFormat3DL", good)));
  EXPECT_FALSE(ReadColourLookup(DescriptorValue{}));
}

}  // namespace
}  // namespace kestrel
