// Every malformed watermark picture of the shared set, as the watermark of a
// real conversion: the run ends by its own exit in good time, the file is
// converted exactly as without a watermark, and the picture's reason is said
// on standard error. A valid picture beside them shows the watermark path is taken.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::CorpusPath;
using test::RunKestrel;
using test::TempDir;

// The file names of INDEX.tsv (first column, under a heading line).
std::vector<std::string> IndexedPictures() {
  std::vector<std::string> files;
  std::ifstream index(CorpusPath("malformed-pictures/INDEX.tsv"));
  std::string line;
  std::getline(index, line);
  while (std::getline(index, line)) {
    const std::string file = line.substr(0, line.find('\t'));
    if (!file.empty()) files.push_back(file);
  }
  return files;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(CorpusPictures, MalformedPicturesLeaveTheFileUnmarked) {
  KESTREL_REQUIRE_CORPUS(fs::exists(CorpusPath("malformed-pictures/INDEX.tsv")));
  const std::vector<std::string> pictures = IndexedPictures();
  ASSERT_FALSE(pictures.empty());
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "in.psd", "rgb8", 64, 48);
  const std::string output = dir.File("in.bmp");
  test::RunOptions options;
  options.timeoutSeconds = 30;
  const auto plain = RunKestrel({"-q", "-i", input}, options);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const std::string unmarked = Contents(output);

  // A valid picture does mark the file.
  const std::string valid = dir.File("mark.bmp");
  {
    FIBITMAP* mark = FreeImage_Allocate(8, 8, 24);
    ASSERT_TRUE(FreeImage_Save(FIF_BMP, mark, valid.c_str(), 0));
    FreeImage_Unload(mark);
  }
  const auto marked = RunKestrel({"-q", "-i", input, "--wm-image=" + valid}, options);
  ASSERT_EQ(marked.exitCode, 0) << marked.err;
  EXPECT_EQ(marked.err, "");
  EXPECT_TRUE(Contents(output) != unmarked);

  for (const std::string& name : pictures) {
    SCOPED_TRACE(name);
    const std::string picture = CorpusPath("malformed-pictures/" + name);
    fs::remove(output);
    const auto run = RunKestrel({"-q", "-i", input, "--wm-image=" + picture}, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contents(output) == unmarked) << run.err;
    EXPECT_NE(run.err.find("kestrel: " + picture + ": "), std::string::npos) << run.err;
    // Nothing left beside the input and its output.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3);
  }
}

}  // namespace
}  // namespace kestrel
