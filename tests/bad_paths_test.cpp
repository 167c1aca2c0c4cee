// Bad paths and file systems: odd names, folders that refuse writes, a full
// disk, a folder that vanishes, inputs that are not regular files. Each gives
// a clear failure, exit code 1, no partial file, and leaves an existing output
// file as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "engine/bitmap/image.h"
#include "engine/decode/load.h"
#include "output/save.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::MakePsd;
using test::RunKestrel;
using test::TempDir;

// Names other than the output's own: a temporary file left behind would show here.
std::vector<std::string> OtherFiles(const std::string& folder, const std::string& except) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != except) names.push_back(entry.path().filename().string());
  }
  return names;
}

// A small tmpfs mounted for the test (root only), unmounted at the end.
class Mount {
 public:
  Mount(const std::string& where, const std::string& options) : where_(where) {
    fs::create_directories(where);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~Mount() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_ = false;
};

TEST(BadPaths, NamesWithSpacesAndNonAsciiLettersConvert) {
  TempDir dir;
  const std::string folder = dir.File("dossier à moi");
  fs::create_directories(folder);
  const std::string input = MakePsd(folder, "été photo ü.psd", "rgb8", 6, 4);
  const test::RunResult result = RunKestrel({"-i", input, "-o", folder});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(fs::exists(folder + "/été photo ü.bmp"));
}

TEST(BadPaths, InputsThatAreNotRegularFilesFailWithoutBlocking) {
  TempDir dir;
  const std::string fifo = dir.File("pipe.psd");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string device = dir.File("device.psd");
  fs::create_symlink("/dev/zero", device);
  for (const std::string& input : {fifo, device}) {
    SCOPED_TRACE(input);
    test::RunOptions options;
    options.timeoutSeconds = 10;
    const test::RunResult result = RunKestrel({"-i", input, "-o", dir.Path()}, options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.HasLine("Error: Invalid input file")) << result.out;
    // The load itself refuses them too (a file swapped for a FIFO after the checks).
    const ImageResult load = LoadInputImage(input, 0);
    EXPECT_FALSE(load.image);
    EXPECT_EQ(load.failure, "not a regular file");
  }
}

TEST(BadPaths, ReadOnlyOutputFolderFailsAndKeepsTheExistingFile) {
  TempDir dir;
  const std::string input = MakePsd(dir.Path(), "image.psd", "rgb8", 6, 4);
  const std::string out = dir.File("out");
  Mount mount(out, "size=1m");
  if (!mount.Mounted()) fs::create_directories(out);
  test::WriteText(out + "/image.bmp", "earlier output");
  if (mount.Mounted()) {
    ASSERT_EQ(::mount(nullptr, out.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  } else {
    ::chmod(out.c_str(), 0555);
    if (::access(out.c_str(), W_OK) == 0) KESTREL_CANNOT_RUN("cannot make a folder read-only here");
  }
  const test::RunResult result = RunKestrel({"-d", "-i", input, "-o", out});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.HasLine("[ERROR] Unable to convert the file!")) << result.out;
  EXPECT_TRUE(result.HasLine("Conversion stopped")) << result.out;
  const std::string why = mount.Mounted() ? "Read-only file system" : "Permission denied";
  EXPECT_EQ(result.err, "kestrel: " + input + ": cannot write " + out + "/image.bmp: " + why + "\n");
  EXPECT_EQ(test::ReadText(out + "/image.bmp"), "earlier output");
  EXPECT_TRUE(OtherFiles(out, "image.bmp").empty());
}

TEST(BadPaths, FullDiskFailsWithoutAPartialFileAndKeepsTheExistingFile) {
  TempDir dir;
  const std::string input = MakePsd(dir.Path(), "image.psd", "rgb8", 300, 300);  // 270 KB of BMP
  const std::string out = dir.File("small disk");
  Mount mount(out, "size=128k");
  if (!mount.Mounted()) KESTREL_CANNOT_RUN("cannot mount a small tmpfs here (needs root)");
  test::WriteText(out + "/image.bmp", "earlier output");
  const test::RunResult result = RunKestrel({"-d", "-i", input, "-o", out});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.HasLine("[ERROR] Unable to convert the file!")) << result.out;
  EXPECT_EQ(result.err, "kestrel: " + input + ": cannot write " + out + "/image.bmp: No space left on device\n");
  EXPECT_EQ(test::ReadText(out + "/image.bmp"), "earlier output");
  EXPECT_TRUE(OtherFiles(out, "image.bmp").empty());
}

TEST(BadPaths, SaveIntoAFolderThatVanishedFails) {
  TempDir dir;
  const std::string input = MakePsd(dir.Path(), "image.psd", "rgb8", 6, 4);
  ImagePtr image = LoadInputImage(input, 0).image;
  ASSERT_TRUE(image);
  const std::string gone = dir.File("gone");
  fs::create_directories(gone);
  fs::remove_all(gone);
  EXPECT_EQ(SaveImage(image.get(), FIF_BMP, gone + "/image.bmp", 0).failure,
            "cannot write " + gone + "/image.bmp: No such file or directory");
  EXPECT_FALSE(fs::exists(gone));
}

}  // namespace
}  // namespace kestrel
