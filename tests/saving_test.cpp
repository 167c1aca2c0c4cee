// Writing the output file: BMP sizes, run-length headers, long names,
// permissions, the input as output, and signals during a save.
#include <gtest/gtest.h>

#include <FreeImage.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "output/save.h"
#include "platform/files.h"
#include "platform/remove_on_signal.h"
#include "tests/support/test_bitmaps.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::uint32_t Field32(const std::string& file, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(file[offset + i]);
  return value;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// An 8-bit palettised image whose lines mix long runs with literal stretches
// of odd and even lengths, ending lines on both, so every kind of run-length
// command and its padding appears.
ImagePtr RunsAndLiterals(unsigned width, unsigned height) {
  ImagePtr image = Adopt(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
  RGBQUAD* palette = FreeImage_GetPalette(image.get());
  for (unsigned i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
  for (unsigned y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) {
      const unsigned block = (x + y) / (5 + y % 4);
      line[x] = block % 3 == 0 ? BYTE(block) : BYTE((x * 31 + y * 17) % 251);
    }
  }
  return image;
}

// The BMP's pixels as ImageMagick reads them, red, green, blue per pixel; empty when it refuses the file.
std::string ImageMagickPixels(const std::string& bmp) {
  const std::string raw = bmp + ".rgb";
  const std::string command = "convert '" + bmp + "' -depth 8 'rgb:" + raw + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  std::string pixels = test::ReadText(raw);
  fs::remove(raw);
  return pixels;
}

// Every odd literal run's pad byte in a run-length stream; true when all are zero.
bool LiteralPaddingIsZero(const std::string& data, std::size_t from) {
  for (std::size_t i = from; i + 1 < data.size();) {
    const auto count = static_cast<unsigned char>(data[i]);
    const auto code = static_cast<unsigned char>(data[i + 1]);
    if (count != 0 || code < 2) {
      i += 2;
    } else if (code == 2) {
      i += 4;
    } else {
      const std::size_t end = i + 2 + code;
      if (code % 2 == 1 && (end >= data.size() || data[end] != 0)) return false;
      i = end + code % 2;
    }
  }
  return true;
}

// Run-length BMPs from both writers: header sizes match the file, ImageMagick
// reads back the pixels of the uncompressed file, and the bytes are the same on
// every save. (The packaged FreeImage reads no RLE8 file back, not even one
// ImageMagick wrote, so it cannot be the reference here.)
struct RunLengthCase {
  const char* name;
  unsigned width, height;
  bool exactTable;
};

class RunLengthBmp : public ::testing::TestWithParam<RunLengthCase> {};

TEST_P(RunLengthBmp, HeaderSizesMatchAndReadersAgree) {
  const RunLengthCase& c = GetParam();
  test::TempDir dir;
  ImagePtr image = RunsAndLiterals(c.width, c.height);
  const auto save = [&](const std::string& path, int flags) {
    return c.exactTable ? WriteBmpExactColourTable(image.get(), path, flags)
                        : SaveImage(image.get(), FIF_BMP, path, flags);
  };
  const std::string rle = dir.File("rle.bmp"), again = dir.File("again.bmp"), plain = dir.File("plain.bmp");
  ASSERT_TRUE(save(rle, BMP_SAVE_RLE));
  ASSERT_TRUE(save(again, BMP_SAVE_RLE));
  ASSERT_TRUE(save(plain, BMP_DEFAULT));

  const std::string bytes = test::ReadText(rle);
  ASSERT_GT(bytes.size(), 54u);
  EXPECT_EQ(Field32(bytes, 30), 1u) << "BI_RLE8";
  EXPECT_EQ(Field32(bytes, 2), bytes.size()) << "bfSize";
  EXPECT_EQ(Field32(bytes, 34), bytes.size() - Field32(bytes, 10)) << "biSizeImage";
  EXPECT_TRUE(LiteralPaddingIsZero(bytes, Field32(bytes, 10)));
  EXPECT_EQ(bytes, test::ReadText(again)) << "two saves of one image differ";

  const std::string expected = ImageMagickPixels(plain);
  ASSERT_EQ(expected.size(), std::size_t{c.width} * c.height * 3);
  EXPECT_EQ(ImageMagickPixels(rle), expected) << "ImageMagick reads other pixels";
}

INSTANTIATE_TEST_SUITE_P(Writers, RunLengthBmp,
                         ::testing::Values(RunLengthCase{"OddWidth", 37, 9, false}, RunLengthCase{"Wide", 601, 5, false},
                                           RunLengthCase{"ExactTableOddWidth", 37, 9, true},
                                           RunLengthCase{"ExactTableWide", 601, 5, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The size computed before saving is the size the encoder writes, for every
// depth; at the 32-bit limit it is exact to the byte.
TEST(BmpSize, MatchesTheEncoderAndFindsTheLimit) {
  test::TempDir dir;
  for (unsigned bpp : {1u, 4u, 8u, 16u, 24u, 32u}) {
    for (unsigned width : {1u, 3u, 33u}) {
      ImagePtr image = test::MakeBitmap(width, 7, bpp);
      const std::string path = dir.File("size.bmp");
      ASSERT_TRUE(SaveImage(image.get(), FIF_BMP, path, BMP_DEFAULT));
      const std::uint64_t palette = FreeImage_GetPalette(image.get()) ? FreeImage_GetColorsUsed(image.get()) : 0;
      EXPECT_EQ(UncompressedBmpSize(width, 7, bpp, palette), fs::file_size(path)) << bpp << " bits, width " << width;
    }
  }
  // 8-bit, 65536 wide: 54 + 1024 + 65536 * height.
  EXPECT_EQ(UncompressedBmpSize(65536, 65535, 8, 256), 4294902838u);
  EXPECT_GT(UncompressedBmpSize(65536, 65536, 8, 256), 0xFFFFFFFFu);
  EXPECT_EQ(UncompressedBmpSize(37900, 37900, 24, 0), 4309230054u);
}

// Every name the system allows saves, new or replacing, the longest included,
// through an unnamed file and through a hidden temporary name alike.
class SaveNames : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseNamedTemporaryFiles(GetParam()); }
  void TearDown() override { UseNamedTemporaryFiles(false); }
};

TEST_P(SaveNames, LongestLegalNamesSave) {
  test::TempDir dir;
  ImagePtr image = test::MakeBitmap(4, 3, 24);
  for (std::size_t length : {200u, 240u, 241u, 250u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".bmp";
    EXPECT_TRUE(SaveImage(image.get(), FIF_BMP, dir.File(name), 0)) << length;
    EXPECT_TRUE(SaveImage(image.get(), FIF_BMP, dir.File(name), 0)) << length << ", replacing";
    EXPECT_TRUE(fs::exists(dir.File(name))) << length;
  }
  const Outcome tooLong = SaveImage(image.get(), FIF_BMP, dir.File(std::string(256, 'n')), 0);
  EXPECT_NE(tooLong.failure.find("File name too long"), std::string::npos) << tooLong.failure;
  EXPECT_EQ(FolderNames(dir.Path()).size(), 5u);
}

// A signal that ends the process in the middle of a save leaves the old file
// as it was and nothing else.
TEST_P(SaveNames, SignalDuringWriteLeavesOnlyTheOldFile) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    test::TempDir dir;
    const std::string target = dir.File("out.bmp");
    test::WriteText(target, "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto file = AtomicFile::Create(target);
      const std::vector<unsigned char> data(1 << 20, 'x');
      if (!file || !file->Write(data.data(), data.size()) || !file->Seek(0, SEEK_CUR)) ::_exit(3);
      ::raise(signal);
      ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"out.bmp"}) << signal;
    EXPECT_EQ(test::ReadText(target), "old");
  }
}

// Commits put off: a saved file takes its name only when its commit is
// completed, and one dropped before that leaves the old file and nothing else.
TEST_P(SaveNames, DeferredCommitsNameTheFileOnlyWhenCompleted) {
  test::TempDir dir;
  const std::string kept = dir.File("kept.bmp");
  const std::string dropped = dir.File("dropped.bmp");
  test::WriteText(dropped, "old");
  ImagePtr image = test::MakeBitmap(4, 3, 24);
  DeferCommits(true);
  const bool saved = SaveImage(image.get(), FIF_BMP, kept, 0) && SaveImage(image.get(), FIF_BMP, dropped, 0);
  std::vector<AtomicFile> files = TakeDeferredCommits();
  DeferCommits(false);
  ASSERT_TRUE(saved);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_EQ(test::ReadText(dropped), "old");
  EXPECT_TRUE(CompleteDeferredSave(files[0], kept));
  files.pop_back();
  EXPECT_EQ(test::ReadText(dropped), "old");
  ASSERT_TRUE(SaveImage(image.get(), FIF_BMP, dir.File("direct.bmp"), 0));
  EXPECT_EQ(test::ReadText(kept), test::ReadText(dir.File("direct.bmp")));
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"direct.bmp", "dropped.bmp", "kept.bmp"}));
}

// Commits completed together: one flush for all the files, made while none
// of them has its name yet; they are named only after it. A group flush that
// fails leaves each file to a flush of its own, so none is lost.
TEST_P(SaveNames, FilesCommittedTogetherAreNamedOnlyAfterTheirOneFlush) {
  for (const bool groupFlushWorks : {true, false}) {
    SCOPED_TRACE(groupFlushWorks ? "group flush" : "group flush failed");
    test::TempDir dir;
    const std::vector<std::string> paths{dir.File("a.bmp"), dir.File("b.bmp"), dir.File("c.bmp")};
    test::WriteText(paths[1], "old");
    ImagePtr image = test::MakeBitmap(4, 3, 24);
    DeferCommits(true);
    bool saved = true;
    for (const std::string& path : paths) saved = SaveImage(image.get(), FIF_BMP, path, 0) && saved;
    std::vector<AtomicFile> files = TakeDeferredCommits();
    DeferCommits(false);
    ASSERT_TRUE(saved);
    ASSERT_EQ(files.size(), paths.size());
    std::vector<AtomicFile*> group;
    for (AtomicFile& file : files) group.push_back(&file);
    int flushes = 0;
    const auto flush = [&](const std::vector<int>& fds) {
      ++flushes;
      EXPECT_EQ(fds.size(), paths.size());
      EXPECT_FALSE(fs::exists(paths[0]) || fs::exists(paths[2])) << "a file named before the flush";
      EXPECT_EQ(test::ReadText(paths[1]), "old") << "a file replaced before the flush";
      return groupFlushWorks;
    };
    const std::vector<Outcome> outcomes = CompleteDeferredSaves(group, paths, flush);
    EXPECT_EQ(flushes, 1);
    ASSERT_TRUE(SaveImage(image.get(), FIF_BMP, dir.File("direct.bmp"), 0));
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_TRUE(outcomes[i]) << outcomes[i].failure;
      EXPECT_EQ(test::ReadText(paths[i]), test::ReadText(dir.File("direct.bmp"))) << paths[i];
    }
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp", "direct.bmp"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Temporaries, SaveNames, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

// A replaced file keeps its permissions; a new file gets 0666 less the umask.
TEST(SavePermissions, ReplacedFileKeepsItsMode) {
  test::TempDir dir;
  ImagePtr image = test::MakeBitmap(4, 3, 24);
  for (mode_t mode : {0600, 0640, 0444, 0755}) {
    const std::string path = dir.File("kept" + std::to_string(mode) + ".bmp");
    test::WriteText(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(SaveImage(image.get(), FIF_BMP, path, 0));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_GT(st.st_size, 3);
  }
  const mode_t mask = ::umask(027);
  const std::string fresh = dir.File("new.bmp");
  const Outcome saved = WriteBmpExactColourTable(RunsAndLiterals(5, 5).get(), fresh, 0);
  ::umask(mask);
  ASSERT_TRUE(saved);
  struct stat st {};
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// The input itself, under any name that reaches it, is refused as output.
TEST(InputAsOutput, SameFileUnderAnyNameIsRefused) {
  test::TempDir dir;
  const std::string input = dir.File("in.psd");
  test::WriteText(input, "psd");
  test::WriteText(dir.File("other.bmp"), "bmp");
  ASSERT_EQ(::link(input.c_str(), dir.File("hard.bmp").c_str()), 0);
  ASSERT_EQ(::symlink(input.c_str(), dir.File("soft.bmp").c_str()), 0);
  struct Case {
    std::string output;
    bool refused;
  };
  for (const Case& c : {Case{input, true}, Case{dir.Path() + "/./in.psd", true}, Case{dir.File("hard.bmp"), true},
                        Case{dir.File("soft.bmp"), true}, Case{dir.File("other.bmp"), false},
                        Case{dir.File("missing.bmp"), false}}) {
    const Outcome outcome = RefuseInputAsOutput(input, c.output);
    EXPECT_EQ(!outcome, c.refused) << c.output;
    if (c.refused) {
      EXPECT_NE(outcome.failure.find("is the input file itself"), std::string::npos);
    }
  }
}

// A signal that ends the process removes a guarded temporary file first and
// still ends the process by that signal; an ignored signal touches nothing.
TEST(RemoveOnSignal, EndingSignalsRemoveTheFile) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    for (bool ignored : {false, true}) {
      test::TempDir dir;
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::signal(signal, ignored ? SIG_IGN : SIG_DFL);
        const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
        RemoveOnSignal guard(folder, ".part");
        ::close(::openat(folder, ".part", O_WRONLY | O_CREAT, 0600));
        ::raise(signal);
        ::_exit(7);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      if (ignored) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << signal;
        EXPECT_EQ(FolderNames(dir.Path()).size(), 1u) << signal;
      } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_TRUE(FolderNames(dir.Path()).empty()) << signal;
      }
    }
  }
}

// A raw 8-bit RGB PSD of noise, big enough that its save takes a while.
void WriteNoisePsd(const std::string& path, unsigned width, unsigned height) {
  std::string psd("8BPS\0\1\0\0\0\0\0\0\0\3", 14);
  const auto put32 = [&](std::uint32_t v) { for (int i = 3; i >= 0; --i) psd += char(v >> (8 * i)); };
  put32(height);
  put32(width);
  psd += std::string("\0\x08\0\x03", 4);  // depth 8, RGB
  put32(0);
  put32(0);
  put32(0);
  psd += std::string("\0\0", 2);  // raw data
  std::uint32_t state = 12345;
  const std::size_t start = psd.size();
  psd.resize(start + std::size_t{width} * height * 3);
  for (std::size_t i = start; i < psd.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    psd[i] = char(state >> 24);
  }
  std::ofstream(path, std::ios::binary) << psd;
}

// Signals sent at points spread over a whole conversion: each run either
// completes or dies by the signal, the old output is either intact or the
// complete new file, and nothing else is left in the folder.
TEST(InterruptedSave, LeavesNothingBehind) {
  test::TempDir dir;
  const std::string input = dir.File("big.psd");
  WriteNoisePsd(input, 3000, 2000);
  const std::string output = dir.File("big.bmp");
  // A complete output to compare with, and how long a conversion takes.
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(test::RunKestrel({"-q", "-i", input, "-o", dir.Path()}).exitCode, 0);
  const auto took = std::chrono::steady_clock::now() - started;
  const std::string complete = test::ReadText(output);
  const std::vector<std::string> expectedNames{"big.bmp", "big.psd"};

  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    for (int step = 1; step <= 6; ++step) {
      test::WriteText(output, "old output");
      std::thread killer;
      test::RunOptions options;
      options.started = [&](pid_t pid) {
        killer = std::thread([pid, signal, delay = took * step / 6] {
          std::this_thread::sleep_for(delay);
          ::kill(pid, signal);
        });
      };
      const test::RunResult run = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()}, options);
      killer.join();
      const std::string now = test::ReadText(output);
      EXPECT_TRUE(run.exitCode == 0 || run.signal == signal) << signal << " at step " << step << ": " << run.err;
      EXPECT_TRUE(now == "old output" || now == complete) << signal << " at step " << step;
      EXPECT_EQ(FolderNames(dir.Path()), expectedNames) << signal << " at step " << step;
    }
  }
}

}  // namespace
}  // namespace kestrel
