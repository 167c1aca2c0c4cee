#include <gtest/gtest.h>

#include <FreeImage.h>

#include "model/formats.h"

namespace kestrel {
namespace {

class Formats : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildInputFormats(registry);
    BuildOutputFormats(registry);
    BuildAcceptedInputExtensions(registry);
    SetDefaultSettings(settings, true, 0, "psd", "bmp");
  }
  FormatRegistry registry = MakeEditionRegistry();
  Settings settings;
};

TEST_F(Formats, EditionTakesPsdAndMakesBmp) {
  EXPECT_EQ(registry.acceptedInputExtensions, std::vector<std::string>{"psd"});
  EXPECT_TRUE(IsConversionTarget(registry, "bmp"));
  for (const char* refused : {"BMP", ".bmp", "jpg", ""}) EXPECT_FALSE(IsConversionTarget(registry, refused));
  EXPECT_EQ(OutputFormatId(registry, "bmp"), FIF_BMP);
  EXPECT_EQ(registry.inputFormats.at("jpe").canonical, "jpg");
  EXPECT_EQ(registry.inputFormats.at("apm").description, "Aldus Placeable Metafile");
  EXPECT_EQ(registry.inputFormats.size(), 79u);
  EXPECT_EQ(registry.outputFormats.size(), 20u);
}

TEST_F(Formats, AllowedDepthsOfBmp) {
  for (int depth : {0, 1, 4, 8, 16, 24, 32}) EXPECT_TRUE(IsAllowedDepth(registry, "bmp", depth)) << depth;
  for (int depth : {2, 15, 48, -1}) EXPECT_FALSE(IsAllowedDepth(registry, "bmp", depth)) << depth;
  EXPECT_TRUE(IsAllowedDepth(registry, "exr", 96));
  EXPECT_FALSE(IsAllowedDepth(registry, "exr", 24));
}

TEST_F(Formats, SaveFlagsFollowTheSettings) {
  EXPECT_EQ(SaveFlags(settings, "bmp"), 0);
  EXPECT_EQ(SaveFlags(settings, "jpg"), 95 + JPEG_SUBSAMPLING_444);
  EXPECT_EQ(SaveFlags(settings, "webp"), WEBP_LOSSLESS);
  settings.SetNumber(SettingId::WebpQuality, 80);
  EXPECT_EQ(SaveFlags(settings, "webp"), 80);
  settings.SetNumber(SettingId::PngCompression, 3);
  settings.SetNumber(SettingId::PngInterlaced, 1);
  EXPECT_EQ(SaveFlags(settings, "png"), PNG_Z_BEST_COMPRESSION + PNG_INTERLACED);
  settings.SetNumber(SettingId::BmpCompression, 1);
  EXPECT_EQ(SaveFlags(settings, "bmp"), BMP_SAVE_RLE);
  // A number that means nothing for BMP adds nothing.
  settings.SetNumber(SettingId::BmpCompression, 3);
  EXPECT_EQ(SaveFlags(settings, "bmp"), 0);
  settings.SetNumber(SettingId::TiffCompression, 6);
  settings.SetNumber(SettingId::TiffColorMode, 1);
  EXPECT_EQ(SaveFlags(settings, "tiff"), TIFF_LZW + TIFF_CMYK);
  EXPECT_EQ(SaveFlags(settings, "jxr"), JXR_LOSSLESS);
  EXPECT_EQ(SaveFlags(settings, "gif"), 0);
  EXPECT_EQ(SaveFlags(settings, "nothing"), 0);
}

TEST_F(Formats, DepthSettingOfEachOutputFormat) {
  EXPECT_EQ(DepthSettingOf("bmp"), SettingId::BmpBpp);
  EXPECT_EQ(DepthSettingOf("tiff"), SettingId::TiffBpp);
  EXPECT_EQ(DepthSettingOf("psd"), SettingId::PsdBpp);
  EXPECT_EQ(DepthSettingOf("nothing"), SettingId::None);
}

}  // namespace
}  // namespace kestrel
