// Samples of unpacked layer channels, read and written: big-endian 16-bit
// and float samples, 1-bit samples with a set bit for black, and 8- and
// 16-bit writes rounded to the nearest step.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/composite/plane_samples.h"

namespace kestrel {
namespace {

TEST(PlaneSamples, AreReadBigEndianAtEveryDepth) {
  const struct {
    int depth;
    std::vector<std::uint8_t> plane;
    std::uint64_t index;
    float expected;
  } rows[] = {
      {8, {0, 51, 255}, 1, 51 / 255.0f},
      {16, {0x00, 0x00, 0x12, 0x34}, 1, 0x1234 / 65535.0f},
      {16, {0xFF, 0x00}, 0, 0xFF00 / 65535.0f},
      {32, {0x3F, 0x40, 0x00, 0x00}, 0, 0.75f},           // 0.75 as a big-endian float
      {32, {0x7F, 0xC0, 0x00, 0x00}, 0, 0.0f},            // not a number reads as 0
      {1, {0b01000000}, 1, 0.0f},                         // a set bit is black
      {1, {0b01000000}, 2, 1.0f},
  };
  for (const auto& row : rows) {
    EXPECT_FLOAT_EQ(ReadPlaneSample(row.plane.data(), row.index, row.depth), row.expected)
        << row.depth << " bits, sample " << row.index;
  }
}

TEST(PlaneSamples, AreWrittenRoundedAndBigEndian) {
  std::vector<std::uint8_t> plane(4);
  WritePlaneSample(plane.data(), 1, 8, 0.5f);  // 127.5 rounds up
  EXPECT_EQ(plane[1], 128);
  WritePlaneSample(plane.data(), 2, 8, 0.201f);  // 51.26 rounds down
  EXPECT_EQ(plane[2], 51);
  WritePlaneSample(plane.data(), 1, 16, 0x1234 / 65535.0f);
  EXPECT_EQ(plane[2], 0x12);
  EXPECT_EQ(plane[3], 0x34);
  WritePlaneSample(plane.data(), 0, 32, 0.75f);
  EXPECT_EQ(plane, (std::vector<std::uint8_t>{0x3F, 0x40, 0x00, 0x00}));
}

}  // namespace
}  // namespace kestrel
