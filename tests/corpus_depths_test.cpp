// Every file of the shared corpus converted to every BMP depth, and once more
// through every image step. Some files are hostile; each conversion runs in a
// child process, which must end by itself with 0 or 1, never by a signal.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
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

class CorpusDepths : public ::testing::TestWithParam<Row> {};

TEST_P(CorpusDepths, EveryFileConvertsOrFailsCleanly) {
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
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << name << " exit " << run.exitCode << "\n" << run.err;
    if (run.exitCode != 0) continue;
    ++converted;
    const std::string bmp = out.File(std::filesystem::path(file).stem().string() + ".bmp");
    ImagePtr image = Adopt(FreeImage_Load(FIF_BMP, bmp.c_str(), 0));
    ASSERT_TRUE(image) << name << ": no readable BMP";
    if (GetParam().depth != 0) {
      EXPECT_EQ(FreeImage_GetBPP(image.get()), unsigned(GetParam().depth)) << name;
    }
  }
  // Most of the corpus is readable; a run that converts nothing is broken.
  EXPECT_GT(converted, 20);
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
