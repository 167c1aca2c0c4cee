// --layer and --each-layer on a real file: the outputs they write, and the
// refusals of selectors and combinations. (Their pictures are checked against
// psd-tools by tests/layers_vs_psd_tools.py.)
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::RunKestrel;

// Background, then the groups armA, armB and armC with one layer each ("armA-child" at index 2).
std::string GroupsFile() { return test::CorpusPath("psd-fx/fx_patchy_group-fx-passthrough.psd"); }

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

TEST(LayerOutputs, EachLayerWritesOneFileForEveryTopLevelLayerNamedByIt) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  test::TempDir out;
  const auto run = RunKestrel({"-q", "-i", GroupsFile(), "-o", out.Path(), "--each-layer"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(FilesIn(out.Path()), (std::set<std::string>{"fx_patchy_group-fx-passthrough-Background.bmp",
                                                         "fx_patchy_group-fx-passthrough-armA.bmp",
                                                         "fx_patchy_group-fx-passthrough-armB.bmp",
                                                         "fx_patchy_group-fx-passthrough-armC.bmp"}));
  test::TempDir masked;
  const auto named = RunKestrel({"-q", "-i", GroupsFile(), "-o", masked.Path(), "--each-layer",
                                 "--filename-mask=%layer%_%n%.%ext%"});
  EXPECT_EQ(named.exitCode, 0) << named.out;
  EXPECT_EQ(FilesIn(masked.Path()),
            (std::set<std::string>{"Background_00001.bmp", "armA_00002.bmp", "armB_00003.bmp", "armC_00004.bmp"}));
}

TEST(LayerOutputs, ALayerByIndexOrByNamePathIsTheSamePicture) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const auto byIndex = RunKestrel({"-q", "-i", GroupsFile(), "--stdout", "--layer=2", "--layer-crop"});
  const auto byName = RunKestrel({"-q", "-i", GroupsFile(), "--stdout", "--layer=armA/armA-child", "--layer-crop"});
  EXPECT_EQ(byIndex.exitCode, 0) << byIndex.err;
  EXPECT_EQ(byName.exitCode, 0) << byName.err;
  EXPECT_TRUE(byIndex.out == byName.out);
  // Cropped to the layer's 40 x 40 bounds, in 32 bits with its transparency.
  EXPECT_EQ(byIndex.out.size(), 54u + 40 * 40 * 4);
}

TEST(LayerOutputs, RefusalsAreUsageErrorsOfOneLine) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  test::TempDir out;
  struct Case {
    std::vector<std::string> extra;
    std::string line;
  };
  const Case cases[] = {
      {{"--layer=nothing"}, "Error: no layer is named \"nothing\" (--info lists them)"},
      {{"--layer=1"}, "Error: no layer has the index 1 (--info lists them)"},
      {{"--layer=2", "--each-layer"}, "Error: --layer and --each-layer cannot be used together"},
      {{"--layer-crop"}, "Error: --layer-crop crops the layer that --layer or --each-layer draws"},
      {{"--each-layer", "--filename-mask=%filename%.%ext%x"}, "Error: --each-layer needs %layer% in the file-name mask"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"-q", "-i", GroupsFile(), "-o", out.Path()};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const auto run = RunKestrel(arguments);
    EXPECT_EQ(run.exitCode, 2) << c.line;
    EXPECT_EQ(run.out, c.line + "\n");
  }
  EXPECT_TRUE(FilesIn(out.Path()).empty());
  const auto several = RunKestrel({"-q", "-i", GroupsFile(), "--stdout", "--each-layer"});
  EXPECT_EQ(several.exitCode, 2);
  EXPECT_EQ(several.err, "Error: --stdout writes one picture: --each-layer writes one for each layer\n");
}

}  // namespace
}  // namespace kestrel
