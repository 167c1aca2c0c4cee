#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "model/formats.h"

namespace kestrel {
namespace {

class Formats : public ::testing::Test {
 protected:
  void SetUp() override { SetDefaultSettings(settings, true, 0, "psd", "bmp"); }
  FormatRegistry registry = MakeEditionRegistry();
  Settings settings;
};

TEST_F(Formats, EditionTakesPsdAndMakesBmp) {
  EXPECT_EQ(registry.acceptedInputExtensions, (std::vector<std::string>{"psb", "psd"}));
  EXPECT_TRUE(IsConversionTarget(registry, "bmp"));
  for (const char* refused : {"BMP", ".bmp", "jpg", ""}) EXPECT_FALSE(IsConversionTarget(registry, refused));
  EXPECT_EQ(OutputFormatId("bmp"), FIF_BMP);
  EXPECT_EQ(FindInputFormat("jpe")->canonical, "jpg");
  EXPECT_EQ(FindInputFormat("apm")->description, "Aldus Placeable Metafile");
  EXPECT_EQ(FindInputFormat("JPE"), nullptr);
  const auto inputs = InputFormats();
  EXPECT_EQ(std::accumulate(inputs.begin(), inputs.end(), std::size_t{0},
                            [](std::size_t n, const InputFormat& row) { return n + row.extensions.size(); }),
            80u);
  const auto outputs = OutputFormats();
  EXPECT_EQ(std::count_if(outputs.begin(), outputs.end(), [](const auto& row) { return row.formatId != FIF_UNKNOWN; }),
            20);
}

TEST_F(Formats, AllowedDepthsOfBmp) {
  for (int depth : {0, 1, 4, 8, 16, 24, 32}) EXPECT_TRUE(IsAllowedDepth("bmp", depth)) << depth;
  for (int depth : {2, 15, 48, -1}) EXPECT_FALSE(IsAllowedDepth("bmp", depth)) << depth;
  EXPECT_TRUE(IsAllowedDepth("exr", 96));
  EXPECT_FALSE(IsAllowedDepth("exr", 24));
  // A format with settings but no writer takes only the automatic depth.
  EXPECT_TRUE(IsAllowedDepth("psd", 0));
  EXPECT_FALSE(IsAllowedDepth("psd", 8));
  EXPECT_EQ(OutputFormatId("psd"), FIF_UNKNOWN);
}

TEST_F(Formats, SaveFlagsFollowTheSettings) {
  using enum SettingId;
  const struct {
    std::string_view extension;
    std::initializer_list<std::pair<SettingId, int>> changes;
    int flags;
  } cases[] = {
      {"bmp", {}, 0},
      {"jpg", {}, 95 + JPEG_SUBSAMPLING_444},
      {"jpg", {{JpgChroma, 3}, {JpgSaveAs, 3}}, 95 + JPEG_SUBSAMPLING_411 + JPEG_PROGRESSIVE},
      {"webp", {}, WEBP_LOSSLESS},
      {"webp", {{WebpQuality, 80}}, 80},
      {"png", {{PngCompression, 3}, {PngInterlaced, 1}}, PNG_Z_BEST_COMPRESSION + PNG_INTERLACED},
      {"bmp", {{BmpCompression, 1}}, BMP_SAVE_RLE},
      {"tga", {{TgaCompression, 1}}, TARGA_SAVE_RLE},
      {"bmp", {{BmpCompression, 3}}, 0},  // a number that means nothing for BMP adds nothing
      {"tiff", {{TiffCompression, 6}, {TiffColorMode, 1}}, TIFF_LZW + TIFF_CMYK},
      {"jxr", {}, JXR_LOSSLESS},
      {"gif", {{BmpCompression, 1}}, 0},
      {"nothing", {}, 0},
  };
  for (const auto& c : cases) {
    Settings changed = settings;
    for (const auto& [id, value] : c.changes) changed.SetNumber(id, value);
    EXPECT_EQ(SaveFlags(changed, c.extension), c.flags) << c.extension;
  }
}

TEST_F(Formats, DepthSettingOfEachOutputFormat) {
  EXPECT_EQ(DepthSettingOf("bmp"), SettingId::BmpBpp);
  EXPECT_EQ(DepthSettingOf("tiff"), SettingId::TiffBpp);
  EXPECT_EQ(DepthSettingOf("psd"), SettingId::PsdBpp);
  EXPECT_EQ(DepthSettingOf("nothing"), SettingId::None);
  // Every depth setting belongs to one format, whose report starts with it.
  for (const SettingRow& row : SettingRows()) {
    if (!row.key.ends_with("-BPP")) continue;
    const auto formats = OutputFormats();
    const auto owner = std::find_if(formats.begin(), formats.end(),
                                    [&](const OutputFormat& format) { return format.depthSetting == row.id; });
    ASSERT_NE(owner, formats.end()) << row.key;
    EXPECT_EQ(*owner->reportLines.begin(), row.id) << row.key;
  }
}

TEST_F(Formats, OnlyAnExactBmpOfEightBitsTakesTheExactColourTable) {
  settings.SetNumber(SettingId::BmpColorTable, 1);
  EXPECT_TRUE(WritesExactColourTable(settings, "bmp", 8));
  EXPECT_FALSE(WritesExactColourTable(settings, "bmp", 4));
  EXPECT_FALSE(WritesExactColourTable(settings, "png", 8));
  settings.SetNumber(SettingId::BmpColorTable, 0);
  EXPECT_FALSE(WritesExactColourTable(settings, "bmp", 8));
}

TEST(WithinRange, IntegersAndRealsAgainstTheirRows) {
  Settings settings;
  SetDefaultSettings(settings, true, 0, "psd", "bmp");
  const struct {
    SettingId id;
    double value;
    bool within;
  } cases[] = {{SettingId::Brightness, -100, true}, {SettingId::Brightness, 101, false},
               {SettingId::Contrast, -101, false},  {SettingId::JpgQuality, 0, false},
               {SettingId::WebpQuality, 100, true}, {SettingId::Gamma, 0.01, true},
               {SettingId::Gamma, 9.99, true},      {SettingId::Gamma, 0.0099, false},
               {SettingId::Gamma, 9.991, false},    {SettingId::Gamma, std::nan(""), false},
               {SettingId::Width, -5, true}};  // no range
  for (const auto& c : cases) {
    if (RowOf(c.id).kind == ValueKind::Real) {
      settings.SetReal(c.id, static_cast<float>(c.value));
    } else {
      settings.SetNumber(c.id, static_cast<std::int64_t>(c.value));
    }
    EXPECT_EQ(WithinRange(settings, c.id), c.within) << RowOf(c.id).key << " " << c.value;
  }
}

}  // namespace
}  // namespace kestrel
