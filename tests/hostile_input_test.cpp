// Hostile input: malformed files fail alone and cleanly, the confined decoder
// can do nothing but decode, and valid files come out as the library decodes
// them (indexed ones in their own colours).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include "engine/decode/load.h"
#include "engine/confine/picture_thumbnail.h"
#include "engine/decode/confined_psd.h"
#include "platform/files.h"
#include "platform/sandbox.h"
#include "platform/sanitizer.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::CorpusPath;
using test::MakePsd;
using test::RunKestrel;
using test::SourcePath;
using test::TempDir;

// Every reproducer of a decoder crash, hang or memory blow-up: the shared set
// and the crashers our own fuzzing found.
std::vector<std::string> HostileFiles() {
  std::vector<std::string> files;
  for (const std::string& folder : {CorpusPath("malformed"), SourcePath("tests/fuzz/crashers")}) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      const std::string extension = entry.path().extension().string();
      if (extension == ".psd" || extension == ".psb") files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) files.push_back("");  // reported as skipped
  return files;
}

// The defence that stopped a file, told by the reason the job gives for it.
enum class Defence {
  HeaderCheck,       // refused before any decoding
  MemoryLimit,       // the decoder ran out of its address space
  TimeLimit,         // the decoder ran out of CPU or wall-clock time
  Crash,             // the decoder died of a signal
  SystemCallFilter,  // the decoder made a call the confinement forbids
  DecoderRefusal,    // the decoder itself gave up
  ResultCheck,       // the decoder's bitmap did not match the header
  None,              // a reason that names no defence
};

Defence DefenceOf(std::string_view reason) {
  static const std::pair<std::string_view, Defence> kReasons[] = {
      {"not a Photoshop file", Defence::HeaderCheck},
      {"damaged Photoshop file: ", Defence::HeaderCheck},
      {"unsupported Photoshop file: ", Defence::HeaderCheck},
      {"converting a ", Defence::HeaderCheck},  // the memory budget, held against the header's size
      {"the decoder was stopped after using ", Defence::MemoryLimit},
      {"the decoder took longer than ", Defence::TimeLimit},
      {"the decoder crashed (signal ", Defence::Crash},
      {"the decoder was stopped for a forbidden system call", Defence::SystemCallFilter},
      {"the decoder could not read the image", Defence::DecoderRefusal},
      {"the decoder sent back an image that does not match the header", Defence::ResultCheck},
  };
  for (const auto& [start, defence] : kReasons) {
    if (reason.starts_with(start)) return defence;
  }
  return Defence::None;
}

// The first two columns of a table of the corpus (tab-separated, under a
// heading line): each file, and what is known of it.
std::map<std::string, std::string> CorpusTable(const std::string& relative) {
  std::map<std::string, std::string> table;
  std::ifstream text(CorpusPath(relative));
  std::string line;
  std::getline(text, line);
  while (std::getline(text, line)) {
    std::istringstream fields(line);
    std::string file, known;
    std::getline(fields, file, '\t');
    std::getline(fields, known, '\t');
    table[file] = known;
  }
  return table;
}

// The outcome column of the shared set's INDEX.tsv (crash, hang, bigmem, ...), by file name.
const std::map<std::string, std::string>& IndexedOutcomes() {
  static const std::map<std::string, std::string> outcomes = CorpusTable("malformed/INDEX.tsv");
  return outcomes;
}

// Whether the index describes the file's damage as lying in its thumbnail
// resource, which the program's own reader of the merged image never reads.
bool DamageOnlyInThumbnail(const std::string& path) {
  std::ifstream text(CorpusPath("malformed/INDEX.tsv"));
  const std::string name = fs::path(path).filename().string();
  std::string line;
  while (std::getline(text, line)) {
    if (!line.starts_with(name + "\t")) continue;
    std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
    return line.find("thumbnail") != std::string::npos;
  }
  return false;
}

// Whether the fixed 26-byte header holds a value that no Photoshop file has,
// read from the file's own bytes by the format's rules: version 1 (PSD) or 2
// (PSB), 1 to 56 channels, 1 to 30000 pixels a side (300000 in a PSB), depth
// 1, 8, 16 or 32, a known colour mode, depth 1 in bitmap mode alone and depth
// 8 in indexed mode.
bool FixedHeaderOutOfRange(const std::string& path) {
  unsigned char h[26] = {};
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(h), sizeof h);
  const auto big = [&h](int at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | h[at + i];
    return value;
  };
  const std::uint32_t version = big(4, 2), channels = big(12, 2), height = big(14, 4), width = big(18, 4);
  const std::uint32_t depth = big(22, 2), mode = big(24, 2);
  const std::uint32_t maxSide = version == 2 ? 300000 : 30000;
  const bool knownDepth = depth == 1 || depth == 8 || depth == 16 || depth == 32;
  const bool knownMode = mode <= 4 || (mode >= 7 && mode <= 9);
  return (version != 1 && version != 2) || channels < 1 || width < 1 || width > maxSide ||
         height < 1 || height > maxSide || !knownDepth || !knownMode || (depth == 1) != (mode == 0) ||
         (mode == 2 && depth != 8);
}

// The defences that may stop a file that the index lists with this outcome.
// Under the sanitizer its own allocator meets the memory limit, and the child
// dies the way the sanitizer's runtime does when memory runs out (a crash, or a
// report that the confinement stops as a forbidden call); the limit is also
// larger by the sanitizer's own needs, so a large request may succeed and the
// bitmap made from it be refused, or the slower decoder run out of time first.
std::set<Defence> DefencesFor(const std::string& outcome) {
  using enum Defence;
  std::set<Defence> allowed;
  if (outcome == "crash") {
    allowed = {HeaderCheck, Crash, SystemCallFilter};
  } else if (outcome == "hang") {
    allowed = {HeaderCheck, TimeLimit, MemoryLimit};
  } else if (outcome == "bigmem") {
    allowed = {HeaderCheck, MemoryLimit};
  } else if (outcome.starts_with("crash only without RLIMIT_AS")) {
    allowed = {HeaderCheck, MemoryLimit, DecoderRefusal};
  } else if (outcome == "silent-memory-error") {
    allowed = {HeaderCheck, DecoderRefusal, MemoryLimit, Crash, SystemCallFilter};
  } else {  // a reproducer of our own fuzzing: any defence, as long as one names it
    allowed = {HeaderCheck, MemoryLimit, TimeLimit, Crash, SystemCallFilter, DecoderRefusal, ResultCheck};
  }
  // The program's own reader of the merged image refuses rows that do not fit
  // the header before the library that crashed, hung or ran out of memory sees them.
  allowed.insert(DecoderRefusal);
  if (kSanitizedBuild && allowed.contains(MemoryLimit)) allowed.insert({Crash, SystemCallFilter, ResultCheck, TimeLimit});
  return allowed;
}

class HostileFile : public ::testing::TestWithParam<std::string> {};

TEST_P(HostileFile, FailsAloneWithTheFailureLinesAndExitCodeOne) {
  KESTREL_REQUIRE_CORPUS(!GetParam().empty());
  TempDir dir;
  // A hostile file must not take a valid neighbour's name either: give it an existing output.
  const std::string input = dir.File("input.psd");
  fs::copy_file(GetParam(), input);
  test::WriteText(dir.File("input.bmp"), "earlier output");
  test::RunOptions options;
  // A hang is killed here and shows as a signal. The decoder's limit counts the
  // CPU it uses, which a busy machine hands out slowly: the margin is wide.
  options.timeoutSeconds = 30;
  const test::RunResult result = RunKestrel({"-d", "-i", input, "-o", dir.Path()}, options);
  EXPECT_EQ(result.signal, 0) << "ended by a signal (or killed after 30 s)";
  if (result.exitCode == 0 && DamageOnlyInThumbnail(GetParam())) {
    // Its merged image is whole: it converts, and replaces the earlier output.
    EXPECT_NE(test::ReadText(dir.File("input.bmp")), "earlier output");
    return;
  }
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.HasLine("[ERROR] Unable to convert the file!")) << result.out;
  EXPECT_TRUE(result.HasLine("Conversion stopped")) << result.out;
  EXPECT_EQ(test::ReadText(dir.File("input.bmp")), "earlier output");

  // One line on standard error names the file and the defence that stopped it.
  const std::string prefix = "kestrel: " + input + ": ";
  ASSERT_TRUE(result.err.starts_with(prefix) && result.err.ends_with("\n")) << result.err;
  const std::string reason = result.err.substr(prefix.size(), result.err.size() - prefix.size() - 1);
  EXPECT_EQ(reason.find('\n'), std::string::npos) << result.err;
  if (FixedHeaderOutOfRange(GetParam())) {
    EXPECT_TRUE(reason.starts_with("damaged Photoshop file: the header gives ")) << reason;
  }
  const auto listed = IndexedOutcomes().find(fs::path(GetParam()).filename().string());
  const std::string outcome = listed == IndexedOutcomes().end() ? std::string() : listed->second;
  EXPECT_TRUE(DefencesFor(outcome).contains(DefenceOf(reason))) << "index outcome '" << outcome << "': " << reason;
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFile, ::testing::ValuesIn(HostileFiles()), [](const auto& info) {
  std::string name = info.param.empty() ? "none" : fs::path(info.param).stem().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
});

// What the confined child tries, and whether the filter lets it.
struct Attempt {
  const char* name;
  int (*work)(int inputFd);
  bool allowed;
};

int OpenAFile(int) { return ::open("/etc/hostname", O_RDONLY) >= 0 ? 0 : 3; }
int CreateAFile(int) { return ::open("/tmp/kestrel-sandbox-escape", O_WRONLY | O_CREAT, 0600) >= 0 ? 0 : 3; }
int OpenASocket(int) { return ::socket(AF_INET, SOCK_STREAM, 0) >= 0 ? 0 : 3; }
int StartAProcess(int) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  return pid > 0 ? 0 : 3;
}
int RunAProgram(int) {
  char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
  ::execv("/bin/true", argv);
  return 3;
}
int MapExecutableMemory(int) {
  void* code = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return code != MAP_FAILED ? 0 : 3;
}
int WriteToStandardOutput(int) { return ::write(STDOUT_FILENO, "x", 1) == 1 ? 0 : 3; }
int ReadTheInput(int fd) {
  char bytes[4];
  return ::pread(fd, bytes, 4, 0) == 4 && std::memcmp(bytes, "8BPS", 4) == 0 ? 0 : 3;
}
int UseMemory(int) {
  std::vector<char> block(64 << 20, 1);
  return block[12345] == 1 ? 0 : 3;
}

class Confinement : public ::testing::TestWithParam<Attempt> {};

// An allowed attempt succeeds; any other ends the child at the filter, having done nothing.
void ExpectOutcomeOf(const Attempt& attempt, const SandboxResult& result) {
  if (attempt.allowed) {
    EXPECT_TRUE(result.Succeeded()) << "end " << static_cast<int>(result.end) << " signal " << result.signal;
  } else {
    EXPECT_EQ(result.end, SandboxEnd::Signalled);
    EXPECT_EQ(result.signal, SIGSYS);
  }
  EXPECT_FALSE(fs::exists("/tmp/kestrel-sandbox-escape"));
}

TEST_P(Confinement, AllowsOnlyReadingComputingAndExiting) {
  TempDir dir;
  const std::string psd = MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  UniqueFd input(::open(psd.c_str(), O_RDONLY | O_CLOEXEC));
  const Attempt attempt = GetParam();
  const int fd = input.Get();
  ExpectOutcomeOf(attempt, RunSandboxed({}, {{fd}, {}}, [&](int) { return attempt.work(fd); }));
}

// The attempt named in the arguments, as a work the zygote can run.
int RunAttempt(const std::uint8_t* arguments, std::size_t size, const SandboxInput& input, int) {
  int (*work)(int) = nullptr;
  if (size != sizeof work) return 1;
  std::memcpy(&work, arguments, sizeof work);
  return work(input.fd);
}

// A child of the zygote is confined as one forked from the process.
TEST_P(Confinement, HoldsForAChildOfTheZygote) {
  TempDir dir;
  const std::string psd = MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  UniqueFd input(::open(psd.c_str(), O_RDONLY | O_CLOEXEC));
  const Attempt attempt = GetParam();
  const SandboxZygoteHold zygote;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&attempt.work);
  const SandboxWork work{RunAttempt, std::vector<std::uint8_t>(bytes, bytes + sizeof attempt.work)};
  ExpectOutcomeOf(attempt, RunSandboxedWork({}, input.Get(), fs::file_size(psd), work));
}

INSTANTIATE_TEST_SUITE_P(Attempts, Confinement,
                         ::testing::Values(Attempt{"open_a_file", OpenAFile, false},
                                           Attempt{"create_a_file", CreateAFile, false},
                                           Attempt{"open_a_socket", OpenASocket, false},
                                           Attempt{"start_a_process", StartAProcess, false},
                                           Attempt{"run_a_program", RunAProgram, false},
                                           Attempt{"map_executable_memory", MapExecutableMemory, false},
                                           Attempt{"write_to_standard_output", WriteToStandardOutput, false},
                                           Attempt{"read_the_input", ReadTheInput, true},
                                           Attempt{"use_memory", UseMemory, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Confinement, TheDecoderChildOfALoadCannotOpenAFile) {
  TempDir dir;
  const std::string psd = MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  SetSandboxProbeForTesting(OpenAFile);
  const ImageResult load = LoadPsdSandboxed(psd, 0);
  SetSandboxProbeForTesting(nullptr);
  EXPECT_FALSE(load.image);
  EXPECT_EQ(load.failure, "the decoder was stopped for a forbidden system call (signal " + std::to_string(SIGSYS) + ")");
  EXPECT_TRUE(LoadPsdSandboxed(psd, 0).image) << "the same file decodes without the probe";
}

TEST(SandboxLimits, EndARunawayChild) {
  SandboxLimits limits;
  limits.cpuSeconds = 1;
  limits.wallMilliseconds = 1500;
  // Spinning: the CPU limit (or the clock) ends it.
  const SandboxResult spin = RunSandboxed(limits, {}, [](int) {
    volatile unsigned long spins = 0;
    for (;;) spins = spins + 1;
    return 0;
  });
  EXPECT_FALSE(spin.Succeeded());
  EXPECT_NE(spin.end, SandboxEnd::Exited);

  // Blocked without using CPU (as on a corrupted lock): the wall clock ends
  // it, also while the parent waits for its output.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const int readEnd = pipeFds[0];
  const std::function<bool(SandboxOutput&)> receivers[] = {nullptr, [](SandboxOutput& output) {
                                                             char byte;
                                                             return output.Read(&byte, 1);
                                                           }};
  for (const auto& receive : receivers) {
    const SandboxResult blocked = RunSandboxed(
        limits, {{readEnd}, {}},
        [readEnd](int) {
          char byte;
          return static_cast<int>(::read(readEnd, &byte, 1));
        },
        receive);
    EXPECT_EQ(blocked.end, SandboxEnd::TimedOut) << (receive ? "while receiving" : "without output");
  }
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);

  // More memory than allowed, from malloc or from new: the child is ended and
  // says so (under the sanitizer its own allocator dies reporting it), never the parent.
  limits.extraAddressSpace = 64 << 20;
  const std::function<int(int)> greedy[] = {
      [](int) {
        void* block = std::malloc(512 << 20);
        if (block == nullptr) return 3;
        std::memset(block, 1, 512 << 20);
        return 0;
      },
      [](int) {
        std::vector<char> block(512 << 20, 1);
        return block[12345] == 1 ? 0 : 3;
      },
  };
  for (const auto& work : greedy) {
    const SandboxResult result = RunSandboxed(limits, {}, work);
    EXPECT_FALSE(result.Succeeded());
    if (!kSanitizedBuild) {
      EXPECT_EQ(result.end, SandboxEnd::OutOfMemory) << "exit " << result.exitCode;
    }
  }
}

// FreeImage in this process and the confined decoder give the same bitmap.
void ExpectSameBitmap(FIBITMAP* expected, FIBITMAP* actual) {
  ASSERT_NE(actual, nullptr);
  EXPECT_EQ(FreeImage_GetImageType(actual), FreeImage_GetImageType(expected));
  EXPECT_EQ(FreeImage_GetBPP(actual), FreeImage_GetBPP(expected));
  EXPECT_EQ(FreeImage_GetColorType(actual), FreeImage_GetColorType(expected));
  ASSERT_EQ(FreeImage_GetWidth(actual), FreeImage_GetWidth(expected));
  ASSERT_EQ(FreeImage_GetHeight(actual), FreeImage_GetHeight(expected));
  ASSERT_EQ(FreeImage_GetPitch(actual), FreeImage_GetPitch(expected));
  EXPECT_EQ(std::memcmp(FreeImage_GetBits(actual), FreeImage_GetBits(expected),
                        std::size_t{FreeImage_GetPitch(expected)} * FreeImage_GetHeight(expected)),
            0);
  if (FreeImage_GetPalette(expected) != nullptr) {
    EXPECT_EQ(std::memcmp(FreeImage_GetPalette(actual), FreeImage_GetPalette(expected),
                          4 * FreeImage_GetColorsUsed(expected)),
              0);
  }
  EXPECT_EQ(FreeImage_GetDotsPerMeterX(actual), FreeImage_GetDotsPerMeterX(expected));
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(actual), FreeImage_GetDotsPerMeterY(expected));
  EXPECT_EQ(FreeImage_GetICCProfile(actual)->size, FreeImage_GetICCProfile(expected)->size);
  EXPECT_EQ(FreeImage_GetICCProfile(actual)->flags, FreeImage_GetICCProfile(expected)->flags);
  EXPECT_EQ(FreeImage_GetTransparencyCount(actual), FreeImage_GetTransparencyCount(expected));
}

// The corpus files FreeImage loads, by BEHAVIOUR.tsv.
std::vector<std::string> LoadableCorpusFiles() {
  std::vector<std::string> files;
  for (const auto& [file, result] : CorpusTable("psd/BEHAVIOUR.tsv")) {
    if (result != "LOAD_FAILED") files.push_back(file);
  }
  return files;
}

TEST(CorpusDecoding, EveryLoadableFileDecodesConfinedAsInProcess) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::vector<std::string> files = LoadableCorpusFiles();
  ASSERT_GT(files.size(), 50u);
  for (const int flags : {PSD_DEFAULT, PSD_CMYK, PSD_LAB}) {
    for (const std::string& file : files) {
      SCOPED_TRACE(file + " flags " + std::to_string(flags));
      const ImageResult confined = LoadPsdSandboxed(CorpusPath("psd/" + file), flags);
      ASSERT_TRUE(confined.image) << confined.failure;
      // The files named bad_ are damaged: never decode them in the test process.
      if (file.rfind("bad_", 0) == 0) continue;
      const ImageResult direct = LoadPsdInProcess(CorpusPath("psd/" + file), flags);
      ASSERT_TRUE(direct.image) << direct.failure;
      ExpectSameBitmap(direct.image.get(), confined.image.get());
    }
  }
}

// The colour of a pixel of a palettised or true-colour bitmap.
RGBQUAD ColourAt(FIBITMAP* image, unsigned x, unsigned y) {
  RGBQUAD colour{};
  BYTE index = 0;
  if (FreeImage_GetPalette(image) != nullptr && FreeImage_GetPixelIndex(image, x, y, &index)) {
    return FreeImage_GetPalette(image)[index];
  }
  FreeImage_GetPixelColor(image, x, y, &colour);
  return colour;
}

// Indexed files without the colour-count resource: ours, and ImageMagick's.
TEST(IndexedColour, ComesFromTheFilesOwnPalette) {
  TempDir dir;
  const std::string ours = MakePsd(dir.Path(), "ours.psd", "indexed8", 8, 4);
  ImagePtr image = LoadInputImage(ours, 0).image;
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetColorType(image.get()), FIC_PALETTE);
  const RGBQUAD* palette = FreeImage_GetPalette(image.get());
  // make_psd.py's colour i is (17 i, 255 - 17 i, 40 i).
  EXPECT_EQ(palette[3].rgbRed, 51);
  EXPECT_EQ(palette[3].rgbGreen, 204);
  EXPECT_EQ(palette[3].rgbBlue, 120);

  const std::string theirs = dir.File("theirs.psd");
  const std::string command = "convert -size 16x8 gradient:red-blue -type Palette -colors 16 'PSD:" + theirs + "'";
  if (std::system(command.c_str()) != 0) KESTREL_CANNOT_RUN("ImageMagick is not installed");
  image = LoadInputImage(theirs, 0).image;
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetColorType(image.get()), FIC_PALETTE);
  const RGBQUAD first = ColourAt(image.get(), 0, 7);  // top left: red
  EXPECT_GT(first.rgbRed, 200);
  EXPECT_LT(first.rgbBlue, 60);
}

TEST(IndexedColour, ReachesTheConvertedFile) {
  TempDir dir;
  const std::string input = MakePsd(dir.Path(), "indexed.psd", "indexed8", 8, 4);
  const test::RunResult result = RunKestrel({"-i", input, "-o", dir.Path()});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  FIBITMAP* output = FreeImage_Load(FIF_BMP, dir.File("indexed.bmp").c_str(), 0);
  ASSERT_NE(output, nullptr);
  const RGBQUAD colour = ColourAt(output, 1, 3);  // top row, x = 1: index 1
  EXPECT_EQ(colour.rgbRed, 17);
  EXPECT_EQ(colour.rgbGreen, 238);
  EXPECT_EQ(colour.rgbBlue, 40);
  FreeImage_Unload(output);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// The preferences dialog's preview of a watermark picture: pictures that crash
// a bare picture reader or ask for gigabytes fail alone in the confined child,
// and a good one comes back shrunk with its proportions.
TEST(PicturePreview, HostilePicturesFailAloneAndAGoodOneShrinks) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::map<std::string, std::string> table = CorpusTable("malformed-pictures/INDEX.tsv");
  ASSERT_GE(table.size(), 9u);
  for (const auto& [file, what] : table) {
    SCOPED_TRACE(file + ": " + what);
    const std::optional<Thumbnail> thumbnail = ReadPictureThumbnail(CorpusPath("malformed-pictures/" + file), 48);
    // Each is either damaged or asks for far more memory than a preview may take: none is shown.
    EXPECT_FALSE(thumbnail) << thumbnail->width << "x" << thumbnail->height;
  }

  test::TempDir dir;
  ASSERT_EQ(std::system(("convert -size 200x100 xc:'#0080FF' '" + dir.File("mark.png") + "'").c_str()), 0);
  const std::optional<Thumbnail> good = ReadPictureThumbnail(dir.File("mark.png"), 48);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->width, 48);
  EXPECT_EQ(good->height, 24);
  EXPECT_EQ((std::vector<int>{good->bgra[0], good->bgra[1], good->bgra[2], good->bgra[3]}),
            (std::vector<int>{0xFF, 0x80, 0x00, 0xFF}));  // blue, green, red, alpha
  EXPECT_FALSE(ReadPictureThumbnail(dir.Path(), 48));  // a folder
}

}  // namespace
}  // namespace kestrel
