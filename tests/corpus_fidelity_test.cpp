// Every corpus file whose merged image is not a placeholder, converted by the
// program and flattened onto white, against the same merged image read by an
// independent reader (psd-tools, through tools/measure_fidelity.py): each
// within its stored bound (tests/corpus_bounds.tsv), multichannel files too.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/corpus_bounds.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct PipeCloser {
  void operator()(FILE* pipe) const { pclose(pipe); }
};

TEST(CorpusFidelity, EveryMergedImageStaysWithinItsBoundOfAnIndependentReader) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::map<std::string, std::string> bounds = test::CorpusBoundTexts("fidelity");
  const std::string command = std::string("/usr/bin/python3 ") + KESTREL_SOURCE_DIR + "/tools/measure_fidelity.py " +
                              KESTREL_BINARY + " " + test::CorpusPath("psd") + " 2>/dev/null";
  std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  ASSERT_TRUE(pipe);
  char buffer[512];
  std::size_t compared = 0;
  bool counted = false;
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    std::istringstream line(buffer);
    std::string name, rmse, verdict, real, mode;
    line >> name >> rmse >> verdict >> real >> mode;
    if (name == "counts") {
      counted = true;
      continue;
    }
    // A placeholder merged image is not what the program shows: the layers
    // rebuilt are compared in CorpusLayers.PlaceholderMergedImagesAreReplacedByTheLayers.
    if (real == "real=no") continue;
    SCOPED_TRACE(name + " " + mode);
    ++compared;
    const auto bound = bounds.find(name);
    if (bound == bounds.end()) {
      ADD_FAILURE() << "no stored bound; row: "
                    << (verdict == "no-reference" ? "fidelity\t" + name + "\t-"
                                                  : test::BoundRow("fidelity", name, std::stod(rmse)));
      continue;
    }
    // "-": psd-tools cannot read the file, and that is all there is to check.
    if (bound->second == "-") {
      EXPECT_EQ(verdict, "no-reference");
      continue;
    }
    ASSERT_NE(verdict, "no-reference") << "psd-tools no longer reads it";
    ASSERT_NE(verdict, "failed") << "not converted";
    EXPECT_LE(std::stod(rmse), std::stod(bound->second))
        << "row at today's value: " << test::BoundRow("fidelity", name, std::stod(rmse));
  }
  EXPECT_TRUE(counted) << "the measuring script did not finish (is python3-psd-tools installed?)";
  // Every row is a file measured: a stale row fails too.
  EXPECT_EQ(compared, bounds.size());
}

// The colour-managed conversion against Photoshop's own rendering of it: the
// thumbnail (image resource 1036) it stores, drawn through the file's profile
// into sRGB. Each file's conversion, scaled to the thumbnail's size by
// tools/thumbnail_distance.py, stays within its stored bound; the files are
// the table's "thumbnail" rows (CMYK and grey files with profiles other than sRGB).
TEST(CorpusFidelity, ProfiledFilesStayWithinTheirBoundOfPhotoshopsThumbnail) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::map<std::string, double> bounds = test::CorpusBounds("thumbnail");
  ASSERT_FALSE(bounds.empty());
  std::string command = std::string("/usr/bin/python3 ") + KESTREL_SOURCE_DIR + "/tools/thumbnail_distance.py " +
                        KESTREL_BINARY;
  for (const auto& entry : bounds) command += " '" + test::CorpusPath("psd/" + entry.first) + "'";
  std::unique_ptr<FILE, PipeCloser> pipe(popen((command + " 2>/dev/null").c_str(), "r"));
  ASSERT_TRUE(pipe);
  char buffer[512];
  std::size_t measured = 0;
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    std::istringstream line(buffer);
    std::string name, ours, withoutProfile;
    line >> name >> ours >> withoutProfile;
    SCOPED_TRACE(name);
    const auto bound = bounds.find(name);
    ASSERT_NE(bound, bounds.end());
    ASSERT_NE(ours, "-") << "no thumbnail, or not converted";
    std::printf("%-40s kestrel %7s  psd-tools without the profile %7s\n", name.c_str(), ours.c_str(),
                withoutProfile.c_str());
    EXPECT_LE(std::stod(ours), bound->second)
        << "row at today's value: " << test::BoundRow("thumbnail", name, std::stod(ours));
    ++measured;
  }
  EXPECT_EQ(measured, bounds.size()) << "the measuring script did not finish (is python3-psd-tools installed?)";
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
