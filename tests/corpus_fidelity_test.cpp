// Every corpus file whose merged image is real, converted by the program and
// flattened onto white, against the same merged image read by an independent
// reader (psd-tools, through tools/measure_fidelity.py): RMSE below 2 on the
// 0-255 scale.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct PipeCloser {
  void operator()(FILE* pipe) const { pclose(pipe); }
};

TEST(CorpusFidelity, RealMergedImagesMatchAnIndependentReader) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::string command = std::string("/usr/bin/python3 ") + KESTREL_SOURCE_DIR + "/tools/measure_fidelity.py " +
                              KESTREL_BINARY + " " + test::CorpusPath("psd") + " 2>/dev/null";
  std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  ASSERT_TRUE(pipe);
  char buffer[512];
  int compared = 0;
  bool counted = false;
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    std::istringstream line(buffer);
    std::string name, rmse, verdict, real, mode;
    line >> name >> rmse >> verdict >> real >> mode;
    if (name == "counts") {
      counted = true;
      continue;
    }
    // Files psd-tools cannot read, and placeholders of layered documents, are compared elsewhere.
    if (real != "real=yes" || verdict == "no-reference") continue;
    // The reference shows a multichannel file as its first channel alone; the
    // program, like ImageMagick, shows all its inks.
    if (mode == "mode=Multichannel") continue;
    EXPECT_EQ(verdict, "correct") << name << " RMSE " << rmse;
    ++compared;
  }
  EXPECT_TRUE(counted) << "the measuring script did not finish (is python3-psd-tools installed?)";
  EXPECT_GT(compared, 40);
}

// Every corpus file whose stored merged image has transparency, converted at
// 24 bits, against that image read by psd-tools (tools/measure_background.py):
// on the default white it is the stored picture itself where Photoshop matted
// it on white; on black, the picture with the matte taken off, over black;
// a file stored in straight colour is that colour over either.
// Within 1 of 255 everywhere.
TEST(CorpusFidelity, TransparentPicturesLieOnTheBackgroundAtTwentyFourBits) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::string command = std::string("/usr/bin/python3 ") + KESTREL_SOURCE_DIR + "/tools/measure_background.py " +
                              KESTREL_BINARY + " " + test::CorpusPath("psd") + " white,black 2>/dev/null";
  std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  ASSERT_TRUE(pipe);
  char buffer[512];
  int matted = 0, straight = 0;
  bool counted = false;
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    std::istringstream line(buffer);
    std::string name, background, worst, matte;
    line >> name >> background >> worst >> matte;
    if (name == "compared") {
      counted = true;
      continue;
    }
    EXPECT_TRUE(worst == "0" || worst == "1") << name << " on " << background << " differs by " << worst;
    ++(matte == "matte=yes" ? matted : straight);
  }
  EXPECT_TRUE(counted) << "the measuring script did not finish";
  // Photoshop's matted files, and the straight colour of MediBang, ag-psd and a Go writer.
  EXPECT_GE(matted, 2 * 12);
  EXPECT_GE(straight, 2 * 3);
}

}  // namespace
}  // namespace kestrel
