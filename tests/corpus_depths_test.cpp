// Every file of the shared corpus converted to every BMP depth, and once more
// through every image step: each must convert (the hostile files are in
// malformed/, apart), in a child process that ends by itself, never by a signal.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "engine/bitmap/image.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

std::vector<std::string> CorpusInputs() {
  std::vector<std::string> files;
  if (!test::CorpusAvailable()) return files;
  for (const auto& entry : std::filesystem::directory_iterator(test::CorpusPath("psd"))) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".psd" || extension == ".psb") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct Row {
  const char* name;
  int depth;  // 0: automatic
  std::vector<std::string> options;
  // Files above this size are left out (0: none). The step rows need every
  // kind of image, not the largest pictures, whose rotation alone takes seconds.
  std::uintmax_t maxBytes = 0;
};

void PrintTo(const Row& value, std::ostream* out) { *out << value.name; }

constexpr std::uintmax_t kStepRowMaxBytes = 700 * 1024;

// The corpus's damaged files that cannot be read, and why; every other file converts.
const std::map<std::string, std::string> kDamaged = {
    {"bad_pil_combined_larger_than_size.psd", "the layer and mask information runs past the end of the file"},
    {"bad_pil_timeout-1ee28a24.psd", "the image data gives compression method 65535"},
};

class CorpusDepths : public ::testing::TestWithParam<Row> {};

TEST_P(CorpusDepths, EveryFileConverts) {
  const auto files = CorpusInputs();
  KESTREL_REQUIRE_CORPUS(!files.empty());
  int converted = 0;
  for (const std::string& file : files) {
    if (GetParam().maxBytes != 0 && std::filesystem::file_size(file) > GetParam().maxBytes) continue;
    test::TempDir out;
    std::vector<std::string> arguments = {"-q", "-i", file, "-o", out.Path(),
                                          "--bmp-bpp=" + std::to_string(GetParam().depth)};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const auto run = test::RunKestrel(arguments);
    const std::string name = std::filesystem::path(file).filename().string();
    ASSERT_EQ(run.signal, 0) << name << " ended by signal " << run.signal << "\n" << run.err;
    if (const auto refused = kDamaged.find(name); refused != kDamaged.end()) {
      EXPECT_EQ(run.exitCode, 1) << name;
      EXPECT_NE(run.err.find(refused->second), std::string::npos) << name << "\n" << run.err;
      continue;
    }
    EXPECT_EQ(run.exitCode, 0) << name << "\n" << run.err;
    if (run.exitCode != 0) continue;
    ++converted;
    const std::string bmp = out.File(std::filesystem::path(file).stem().string() + ".bmp");
    ImagePtr image = Adopt(FreeImage_Load(FIF_BMP, bmp.c_str(), 0));
    ASSERT_TRUE(image) << name << ": no readable BMP";
    if (GetParam().depth != 0) {
      EXPECT_EQ(FreeImage_GetBPP(image.get()), unsigned(GetParam().depth)) << name;
    }
  }
  EXPECT_GT(converted, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CorpusDepths,
    ::testing::Values(Row{"Auto", 0, {}}, Row{"Bits1", 1, {}}, Row{"Bits4", 4, {}}, Row{"Bits8", 8, {}},
                      Row{"Bits16", 16, {}}, Row{"Bits24", 24, {}}, Row{"Bits32", 32, {}},
                      Row{"GeometryAndAdjustments",
                          0,
                          {"--rotation=33", "--rotation-back-color=FF8000", "--width=50", "--width-unit=PERCENT",
                           "--height=40", "--height-unit=PERCENT", "--flip-horizontal", "--flip-vertical",
                           "--brightness=20", "--contrast=-10", "--gamma=1.4", "--invert"},
                          kStepRowMaxBytes},
                      Row{"GreyThresholdDitherExactTable",
                          8,
                          {"--rotation=90", "--rotation-type=ADVANCED", "--greyscale", "--threshold=100",
                           "--dither=BAYER16", "--bmp-color-table=EXACT"},
                          kStepRowMaxBytes}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel
