// The header check, the indexed-palette mend and the decoded-image record: the
// code that reads untrusted bytes before or after the confined decoder.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include "engine/psd/header.h"
#include "engine/decode/palette.h"
#include "engine/confine/bitmap_record.h"
#include "platform/files.h"

namespace kestrel {
namespace {

void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void Append32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  bytes.resize(bytes.size() + 4);
  Put32(bytes, bytes.size() - 4, value);
}

// A well-formed 8-bit RGB file of 4x3 pixels, raw or run-length coded.
std::vector<std::uint8_t> SmallPsd(bool runLength, bool large = false) {
  std::vector<std::uint8_t> bytes(26, 0);
  std::memcpy(bytes.data(), "8BPS", 4);
  Put16(bytes, 4, large ? 2 : 1);
  Put16(bytes, 12, 3);
  Put32(bytes, 14, 3);  // height
  Put32(bytes, 18, 4);  // width
  Put16(bytes, 22, 8);
  Put16(bytes, 24, kPsdModeRgb);
  Append32(bytes, 0);  // colour mode data
  Append32(bytes, 0);  // image resources
  Append32(bytes, 0);  // layers and masks
  if (large) Append32(bytes, 0);  // its length has 8 bytes in the large format
  bytes.push_back(0);
  bytes.push_back(runLength ? 1 : 0);
  if (!runLength) {
    bytes.insert(bytes.end(), 3 * 3 * 4, 0x55);
  } else {
    for (int row = 0; row < 9; ++row) {  // count table: 2-byte entries, 4-byte in the large format
      if (large) bytes.insert(bytes.end(), {0, 0});
      bytes.insert(bytes.end(), {0, 2});
    }
    for (int row = 0; row < 9; ++row) bytes.insert(bytes.end(), {0xFD, 0x55});  // four times 0x55
  }
  return bytes;
}

constexpr std::size_t kImageData = 26 + 12;  // where the compression word lies in SmallPsd

struct HeaderCase {
  const char* name;
  bool runLength;
  bool large;
  std::function<void(std::vector<std::uint8_t>&)> mutate;
  const char* problem;  // nullptr: accepted
};

class HeaderCheck : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderCheck, AcceptsOrRefuses) {
  const HeaderCase& test = GetParam();
  std::vector<std::uint8_t> bytes = SmallPsd(test.runLength, test.large);
  if (test.mutate) test.mutate(bytes);
  const PsdHeaderCheck check = CheckPsdHeader(bytes);
  if (test.problem == nullptr) {
    EXPECT_TRUE(check.ok) << check.problem;
  } else {
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.problem, test.problem);
  }
}

const HeaderCase kHeaderCases[] = {
    {"raw", false, false, nullptr, nullptr},
    {"run_length", true, false, nullptr, nullptr},
    {"psb_raw", false, true, nullptr, nullptr},
    {"psb_run_length", true, true, nullptr, nullptr},
    {"empty", false, false, [](auto& b) { b.clear(); }, "not a Photoshop file"},
    {"signature", false, false, [](auto& b) { b[0] = '9'; }, "not a Photoshop file"},
    {"header_cut_short", false, false, [](auto& b) { b.resize(20); },
     "damaged Photoshop file: the file ends inside its header, after 20 bytes"},
    {"version_3", false, false, [](auto& b) { Put16(b, 4, 3); }, "damaged Photoshop file: the header gives version 3"},
    {"no_channels", false, false, [](auto& b) { Put16(b, 12, 0); }, "damaged Photoshop file: the header gives 0 channels"},
    // More channels than the format's stated 56 are taken, as Photoshop writes
    // them; here the data of the 54 more is missing.
    {"channels_57", false, false, [](auto& b) { Put16(b, 12, 57); },
     "damaged Photoshop file: the image data is shorter than the header says: 684 bytes needed, 36 present"},
    {"channels_65535", false, false, [](auto& b) { Put16(b, 12, 65535); },
     "damaged Photoshop file: the image data is shorter than the header says: 786420 bytes needed, 36 present"},
    {"height_0", false, false, [](auto& b) { Put32(b, 14, 0); },
     "damaged Photoshop file: the header gives a size of 4 x 0 pixels (at most 30000 a side)"},
    {"height_negative", false, false, [](auto& b) { Put32(b, 14, 0xFFFFFFFF); },
     "damaged Photoshop file: the header gives a size of 4 x 4294967295 pixels (at most 30000 a side)"},
    {"width_30001", false, false, [](auto& b) { Put32(b, 18, 30001); },
     "damaged Photoshop file: the header gives a size of 30001 x 3 pixels (at most 30000 a side)"},
    {"psb_width_300001", false, true, [](auto& b) { Put32(b, 18, 300001); },
     "damaged Photoshop file: the header gives a size of 300001 x 3 pixels (at most 300000 a side)"},
    {"psb_width_300000_small_file", false, true, [](auto& b) { Put32(b, 18, 300000); },
     "damaged Photoshop file: the image data is shorter than the header says: 2700000 bytes needed, 36 present"},
    {"depth_12", false, false, [](auto& b) { Put16(b, 22, 12); }, "damaged Photoshop file: the header gives depth 12"},
    {"depth_65535", false, false, [](auto& b) { Put16(b, 22, 65535); },
     "damaged Photoshop file: the header gives depth 65535"},
    {"mode_5", false, false, [](auto& b) { Put16(b, 24, 5); }, "damaged Photoshop file: the header gives colour mode 5"},
    {"bitmap_mode_8_bit", false, false, [](auto& b) { Put16(b, 24, kPsdModeBitmap); },
     "damaged Photoshop file: the header gives depth 8 in bitmap mode"},
    {"indexed_16_bit", false, false, [](auto& b) { Put16(b, 24, kPsdModeIndexed); Put16(b, 22, 16); },
     "damaged Photoshop file: the header gives depth 16 in indexed mode"},
    {"colour_data_past_end", false, false, [](auto& b) { Put32(b, 26, 1000); },
     "damaged Photoshop file: the colour mode data runs past the end of the file"},
    {"resources_past_end", false, false, [](auto& b) { Put32(b, 30, 0x7FFFFFFF); },
     "damaged Photoshop file: the image resources run past the end of the file"},
    {"layers_past_end", false, false, [](auto& b) { Put32(b, 34, 0xFFFFFFF0); },
     "damaged Photoshop file: the layer and mask information runs past the end of the file"},
    {"no_image_data", false, false, [](auto& b) { b.resize(kImageData); },
     "damaged Photoshop file: the file ends before the image data"},
    {"zip", false, false, [](auto& b) { b[kImageData + 1] = 2; }, "unsupported Photoshop file: ZIP-compressed image data"},
    {"compression_7", false, false, [](auto& b) { b[kImageData + 1] = 7; },
     "damaged Photoshop file: the image data gives compression method 7"},
    {"raw_one_byte_short", false, false, [](auto& b) { b.pop_back(); },
     "damaged Photoshop file: the image data is shorter than the header says: 36 bytes needed, 35 present"},
    {"raw_declares_30000_square", false, false, [](auto& b) { Put32(b, 14, 30000); Put32(b, 18, 30000); },
     "damaged Photoshop file: the image data is shorter than the header says: 2700000000 bytes needed, 36 present"},
    {"run_length_32_bit", true, false, [](auto& b) { Put16(b, 22, 32); }, nullptr},
    {"run_length_truncated", true, false, [](auto& b) { b.erase(b.end() - 3, b.end()); },
     "damaged Photoshop file: the image data is shorter than the header says"},
    {"run_length_count_past_end", true, false, [](auto& b) { Put16(b, kImageData + 2, 0xFFFF); },
     "damaged Photoshop file: the image data is shorter than its run-length row table says"},
    {"run_length_empty_row", true, false, [](auto& b) { Put16(b, kImageData + 2, 0); },
     "damaged Photoshop file: run-length row 1 has 0 bytes, too few for a row of 4 pixels"},
    {"run_length_tall_small_file", true, false, [](auto& b) { Put32(b, 14, 30000); },
     "damaged Photoshop file: the run-length row table runs past the end of the file"},
};

INSTANTIATE_TEST_SUITE_P(Table, HeaderCheck, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderCheck, ReportsTheLayoutOfAnAcceptedFile) {
  std::vector<std::uint8_t> bytes = SmallPsd(true);
  const PsdHeaderCheck check = CheckPsdHeader(bytes);
  ASSERT_TRUE(check.ok);
  EXPECT_EQ(check.header.width, 4u);
  EXPECT_EQ(check.header.height, 3u);
  EXPECT_EQ(check.header.channels, 3);
  EXPECT_EQ(check.header.compression, kPsdRunLength);
  EXPECT_EQ(check.header.imageDataOffset, kImageData);
  EXPECT_EQ(check.header.rowBytes, 4u);
  EXPECT_GE(check.header.decodedBytes, 4u * 3u * 3u);
}

TEST(IndexedPalette, ComesFromPlanarColourData) {
  std::vector<std::uint8_t> data(kPsdPaletteBytes);
  for (int i = 0; i < 256; ++i) {
    data[i] = static_cast<std::uint8_t>(i);
    data[256 + i] = static_cast<std::uint8_t>(255 - i);
    data[512 + i] = static_cast<std::uint8_t>(i / 2);
  }
  const auto palette = PaletteFromColourData(data);
  ASSERT_TRUE(palette.has_value());
  EXPECT_EQ((*palette)[10].rgbRed, 10);
  EXPECT_EQ((*palette)[10].rgbGreen, 245);
  EXPECT_EQ((*palette)[10].rgbBlue, 5);

  EXPECT_FALSE(PaletteFromColourData(std::span(data).first(767)).has_value());

  FIBITMAP* grey = FreeImage_Allocate(2, 2, 8);
  ASSERT_TRUE(ApplyIndexedPalette(grey, *palette));
  EXPECT_EQ(FreeImage_GetPalette(grey)[200].rgbGreen, 55);
  EXPECT_EQ(FreeImage_GetColorType(grey), FIC_PALETTE);
  FreeImage_Unload(grey);
  FIBITMAP* rgb = FreeImage_Allocate(2, 2, 24);
  EXPECT_FALSE(ApplyIndexedPalette(rgb, *palette));
  FreeImage_Unload(rgb);
}

// The record the child writes, read back as the parent does.
std::vector<std::uint8_t> RecordOf(FIBITMAP* image) {
  UniqueFd fd(::memfd_create("record-test", MFD_CLOEXEC));
  EXPECT_TRUE(WriteDecodedImage(image, fd.Get()));
  const off_t size = ::lseek(fd.Get(), 0, SEEK_END);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(size));
  EXPECT_EQ(::pread(fd.Get(), record.data(), record.size(), 0), size);
  return record;
}

struct Layout {
  FREE_IMAGE_TYPE type;
  int bpp;
};

class DecodedRecord : public ::testing::TestWithParam<Layout> {};

TEST_P(DecodedRecord, RoundTripsPixelsPaletteAndResolution) {
  const Layout layout = GetParam();
  FIBITMAP* image = FreeImage_AllocateT(layout.type, 7, 5, layout.bpp);
  ASSERT_NE(image, nullptr);
  const std::size_t bytes = std::size_t{FreeImage_GetPitch(image)} * 5;
  for (std::size_t i = 0; i < bytes; ++i) FreeImage_GetBits(image)[i] = static_cast<BYTE>(i * 7);
  if (RGBQUAD* palette = FreeImage_GetPalette(image)) palette[1] = RGBQUAD{1, 2, 3, 0};
  FreeImage_SetDotsPerMeterX(image, 2835);
  FreeImage_SetDotsPerMeterY(image, 1000);

  const std::vector<std::uint8_t> record = RecordOf(image);
  ImagePtr back = ReadDecodedImage(record, 7, 5);
  ASSERT_TRUE(back);
  EXPECT_EQ(FreeImage_GetImageType(back.get()), layout.type);
  EXPECT_EQ(FreeImage_GetBPP(back.get()), static_cast<unsigned>(layout.bpp));
  EXPECT_EQ(std::memcmp(FreeImage_GetBits(back.get()), FreeImage_GetBits(image), bytes), 0);
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(back.get()), 1000u);
  if (FreeImage_GetPalette(image) != nullptr) {
    EXPECT_EQ(FreeImage_GetPalette(back.get())[1].rgbGreen, 2);
  }

  EXPECT_FALSE(ReadDecodedImage(record, 7, 6)) << "a size other than the header's";
  EXPECT_FALSE(ReadDecodedImage(std::span(record).first(record.size() - 1), 7, 5)) << "truncated";
  FreeImage_Unload(image);
}

INSTANTIATE_TEST_SUITE_P(Types, DecodedRecord,
                         ::testing::Values(Layout{FIT_BITMAP, 1}, Layout{FIT_BITMAP, 8}, Layout{FIT_BITMAP, 24},
                                           Layout{FIT_BITMAP, 32}, Layout{FIT_UINT16, 16}, Layout{FIT_FLOAT, 32},
                                           Layout{FIT_RGB16, 48}, Layout{FIT_RGBAF, 128}));

TEST(DecodedRecord, RefusesInconsistentFields) {
  FIBITMAP* image = FreeImage_Allocate(3, 3, 8);
  const std::vector<std::uint8_t> good = RecordOf(image);
  FreeImage_Unload(image);
  ASSERT_TRUE(ReadDecodedImage(good, 3, 3));
  // Byte offsets in the record header: magic 0, type 4, bpp 16, pitch 20, palette
  // entries 36, transparency count 40, ICC size 60, pixel offset 72, pixel size 80.
  const std::pair<std::size_t, std::uint64_t> corruptions[] = {
      {0, 0}, {4, 99}, {16, 24}, {20, 1000}, {36, 16}, {40, 300}, {60, 0x7FFFFFFF}, {72, 1u << 30}, {80, 1},
  };
  for (const auto& [at, value] : corruptions) {
    std::vector<std::uint8_t> bad = good;
    if (at >= 72) {
      std::memcpy(&bad[at], &value, 8);
    } else {
      const auto word = static_cast<std::uint32_t>(value);
      std::memcpy(&bad[at], &word, 4);
    }
    EXPECT_FALSE(ReadDecodedImage(bad, 3, 3)) << "byte " << at;
  }
}

}  // namespace
}  // namespace kestrel
