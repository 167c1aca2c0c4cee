// The command line seen from outside: texts, error lines and exit codes.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::RunKestrel;
using Lines = std::vector<std::string>;

const Lines kBanner = {"Tessaline PSD to BMP 3.0", "\u00A9 2006-2021 Tessaline Software",
                       "http://www.tessaline.example", ""};

TEST(CommandLine, VersionText) {
  for (const char* option : {"-V", "-v", "--VERSION", "--version", "--version=anything"}) {
    const auto result = RunKestrel({option, "-i", "x.psd"});
    EXPECT_EQ(result.exitCode, 0) << option;
    EXPECT_EQ(result.out, "3.0\n") << option;
  }
}

TEST(CommandLine, HelpTextLineForLine) {
  const Lines expected = {
      " ",
      "Usage: kestrel -i <filename> [options]",
      " ",
      "  kestrel -i example.psd",
      "  kestrel -i ~/Pictures/example.psd",
      "  kestrel -i ~/Pictures/example.psd -o ~/converted",
      "  kestrel -i ~/Pictures/example.psd -o ~/converted --bmp-bpp=24",
      " ",
      "Options:",
      " ",
      "  -h, -?, --help            Display this help and exit",
      "  -i FILE, --input=FILE     Set input file",
      "  -o PATH, --output=PATH    Set output folder",
      "  -c STR, --conversion=STR  Set output extension, STR = bmp",
      " ",
      "Advanced options:",
      " ",
      "  --width=NUM               Set output image width",
      "  --height=NUM              Set output image height",
      "  --filename-mask=STR       Define output filename format",
      "  --flip-horizontal         Flip output image horizontally",
      "  --flip-vertical           Flip output image vertically",
      "  --brightness=NUM          Set output image brightness, NUM = -100..100",
      "  --contrast=NUM            Set output image contrast, NUM = -100..100",
      "  --gamma=NUM               Set output image gamma, NUM = 0.01..9.99",
      "  --invert                  Invert output image",
      "  --greyscale               Greyscale output image",
      "  --profile=FILE            Set configuration file with required settings",
      "    ...                     Refer to man kestrel for all available options",
      " ",
      "Other options:",
      " ",
      "  -q, --quiet               Don't print status messages to stdout",
      "  -d, --debug               Print debug information to stdout",
      "  -p, --pause               Pause at exit",
      "  -v, --version             Display version information and exit",
      " ",
      "Options of this edition:",
      " ",
      "  --input-folder=PATH       Convert every PSD and PSB file below a folder",
  };
  for (const char* option : {"-h", "-?", "--HELP"}) {
    const auto result = RunKestrel({option});
    EXPECT_EQ(result.exitCode, 0);
    const Lines lines = result.Lines();
    ASSERT_GT(lines.size(), expected.size()) << option;
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected) << option;
    EXPECT_EQ(lines.back(), "Full documentation: man kestrel") << option;
    for (const auto& line : lines) EXPECT_LE(line.size(), 79u) << line;
  }
}

TEST(CommandLine, HelpOrVersionLaterIsIgnored) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  const auto result = RunKestrel({"-q", "-h", "--version", "-i", input});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(std::filesystem::exists(dir.File("a.bmp")));
}

TEST(CommandLine, AnUnknownOptionIsSkippedAndSaid) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  const auto result = RunKestrel({"-q", "--bogus-option", "-i", input});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "kestrel: unknown option --bogus-option, ignored\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("a.bmp")));
}

TEST(CommandLine, OptionErrorsExitWithTwo) {
  struct Case {
    Lines arguments;
    std::string line;
  };
  const Case cases[] = {
      {{"-i"}, "Error: Incorrect number of parameters"},
      {{"-q", "-i", "-x.psd"}, "Error: Incorrect number of parameters"},
      {{"-i", "a.psd", "--width"}, "Error: Incorrect number of parameters"},
      {{"-i", "a.psd", "--profile=/no/such/file.ini"}, "Error: Invalid profile file"},
      {{"--profile="}, "Error: Incorrect number of parameters"},
  };
  for (const auto& c : cases) {
    const auto result = RunKestrel(c.arguments);
    EXPECT_EQ(result.exitCode, 2) << c.line;
    EXPECT_EQ(result.out, c.line + "\n");
  }
}

TEST(CommandLine, PauseAfterAnErrorWaitsWithoutPrompt) {
  const auto result = RunKestrel({"-p", "-i"}, test::WithInput("x"));
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "Error: Incorrect number of parameters\n");
}

TEST(CommandLine, StartsThatWouldOpenAWindowWithoutADisplayAreRefused) {
  test::RunOptions noDisplay;
  noDisplay.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  for (const Lines& arguments : std::vector<Lines>{{}, {"-q"}, {"-o", "/tmp"}, {"-U"}, {"-T", "x"}}) {
    const auto result = RunKestrel(arguments, noDisplay);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("no display"), std::string::npos);
  }
}

TEST(CommandLine, DefaultDebugRunPrintsTheWholeReport) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 8, 6);
  const auto result = RunKestrel({"-d", "-i", input});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  Lines expected = kBanner;
  const Lines report = {"Preparing...",
                        "Input: " + input,
                        "Output: " + dir.Path() + "/",
                        "Conversion: bmp",
                        "PSD Color Mode: RGB",
                        "BMP BPP: 0",
                        "BMP Compression: NONE",
                        "BMP Color Table: AUTO",
                        "BMP Header: BASIC",
                        "Background: FFFFFF",
                        "Flip Horizontal: 0",
                        "Flip Vertical: 0",
                        "Greyscale: 0",
                        "Frame: NONE",
                        "Watermark: NONE",
                        "Filename Mask: %filename%.%ext%",
                        "File Timestamp: CURRENT",
                        "Keep Subfolders: 1",
                        "Importing...",
                        "Import complete, new files added: 1",
                        "Converting...",
                        "Processing: " + input,
                        "File Format: PSD",
                        "[OK] Saving As: " + dir.File("photo.bmp"),
                        "Conversion complete",
                        "Files converted: 1 of 1"};
  expected.insert(expected.end(), report.begin(), report.end());
  EXPECT_EQ(result.Lines(), expected);
}

TEST(CommandLine, QuietSilencesProgressButNotDebugOrErrors) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 8, 6);
  EXPECT_EQ(RunKestrel({"-q", "-i", input}).out, "");

  const auto debug = RunKestrel({"-q", "-d", "-i", input});
  EXPECT_EQ(debug.exitCode, 0);
  const Lines lines = debug.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Input: " + input);
  EXPECT_EQ(lines.back(), "[OK] Saving As: " + dir.File("photo.bmp"));

  const auto failed = RunKestrel({"-q", "-i", dir.File("missing.psd")});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.out, "Error: Invalid input file\n");
}

TEST(CommandLine, PauseAfterARun) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  const auto result = RunKestrel({"-q", "-p", "-i", input}, test::WithInput("k"));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "Press any key to exit.\n");
}

TEST(CommandLine, ValidationFailuresPrintOneLineAndExitWithOne) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  test::WriteText(dir.File("empty.psd"), "");
  test::WriteText(dir.File("noext"), "data");
  test::WriteText(dir.File("list.txt"), input + "\n");
  test::WriteText(dir.File("afile"), "x");
  struct Case {
    Lines options;
    std::string line;
  };
  const Case cases[] = {
      {{"-i", dir.File("noext")}, "Error: Invalid input file"},
      {{"-i", dir.File("missing.psd")}, "Error: Invalid input file"},
      {{"-i", dir.File("empty.psd")}, "Error: Invalid input file"},
      {{"-i", dir.Path() + "/."}, "Error: Invalid input file"},
      {{"-i", input, "-o", "../x"}, "Error: Incorrect output folder"},
      {{"-i", input, "-o", dir.File("afile")}, "Error: Invalid output folder"},
      {{"-i", input, "-o", dir.File("nofolder")}, "Error: Invalid output folder"},
      {{"-i", input, "-c", "BMP"}, "Error: Invalid conversion type"},
      {{"-i", input, "-c", "jpg"}, "Error: Invalid conversion type"},
      {{"-i", input, "--bmp-bpp=2"}, "Error: Invalid bmp-bpp value"},
      {{"-i", input, "--background=256,0,0"}, "Error: Invalid background value"},
      {{"-i", input, "--background=bluish"}, "Error: Invalid background value"},
      {{"-i", input, "--width=10"}, "Error: Invalid height value"},
      {{"-i", input, "--height=10"}, "Error: Invalid width value"},
      {{"-i", input, "--brightness=101"}, "Error: Invalid brightness value"},
      {{"-i", input, "--contrast=-101"}, "Error: Invalid contrast value"},
      {{"-i", input, "--gamma=0"}, "Error: Invalid gamma value"},
      {{"-i", input, "--gamma=10"}, "Error: Invalid gamma value"},
      {{"-i", input, "--gamma=NaN"}, "Error: Invalid gamma value"},
      {{"-i", input, "--wm-image=" + dir.File("missing.png")}, "Error: Invalid watermark image"},
      {{"-i", input, "--wm-image=" + dir.File("empty.psd")}, "Error: Invalid watermark image"},
  };
  for (const auto& c : cases) {
    Lines arguments = {"-q"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const auto result = RunKestrel(arguments);
    EXPECT_EQ(result.exitCode, 1) << c.line;
    EXPECT_EQ(result.out, c.line + "\n") << c.options.back();
  }
  const auto list = RunKestrel({"-q", "-i", dir.File("list.txt")});
  EXPECT_EQ(list.exitCode, 1);
  EXPECT_EQ(list.out, "Conversion stopped\nNo input file(s) found. Please, add valid file(s) and try again!\n");
}

TEST(CommandLine, BoundaryValuesPass) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  for (const Lines& options : std::vector<Lines>{{"--brightness=-100"}, {"--brightness=100"}, {"--gamma=0.01"},
                                                 {"--gamma=9.99"}, {"--bmp-bpp=32"}, {"--bmp-bpp=1"}}) {
    Lines arguments = {"-q", "-i", input};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const auto result = RunKestrel(arguments);
    EXPECT_EQ(result.exitCode, 0) << options.front() << ": " << result.out;
  }
}

TEST(CommandLine, DebugReportShowsAValueBeforeRejectingIt) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  const auto result = RunKestrel({"-q", "-d", "-i", input, "--width=0", "--height=5", "--width-unit=percent",
                                  "--brightness=7", "--gamma=2.5"});
  EXPECT_EQ(result.exitCode, 1);
  const Lines lines = result.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Width: 0 PERCENT");
  EXPECT_EQ(lines.back(), "Error: Invalid width value");
}

TEST(CommandLine, DebugReportOfEveryStep) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  const auto result = RunKestrel({"-q", "-d", "-i", input, "--rotation=90", "--width=50", "--height=50",
                                  "--keep-aspect-ratio", "--gamma=2.5", "--threshold=300", "--dither=cluster8",
                                  "--fr-solid-left=2", "--wm-text=Hi", "--wm-font-style=bolditalic",
                                  "--file-timestamp=custom", "--file-timestamp-custom=-5", "--bmp-compression=zip"});
  for (const char* line :
       {"BMP Compression: RLE", "Image Rotation Type: SIMPLE", "Image Rotation: 90", "Image Rotation Back Color: 000000",
        "Width: 50 PIXELS", "Height: 50 PIXELS", "Keep Aspect Ratio: 1", "Image Resize Type: ALLIMAGES",
        "Image Resize Algorithm: BICUBIC", "Brightness: 0", "Contrast: 0", "Gamma: 2.50", "Invert: 0",
        "Image Threshold: 300", "Image Dithering Algorithm: CLUSTER8", "Frame: SOLID", "Frame left: 2",
        "Frame bottom color: 000000", "Frame opacity: 255", "Watermark: TEXT", "Watermark text: Hi",
        "Watermark font: Arial", "Watermark font style: BOLDITALIC", "Watermark position: BOTTOMRIGHT",
        "Watermark offset (x/y): 10/10", "Watermark size/mode: FIXED", "File Timestamp: CUSTOM",
        "Custom Timestamp: -5"}) {
    EXPECT_TRUE(result.HasLine(line)) << line << "\n" << result.out;
  }
}

TEST(CommandLine, DefaultGammaPrintsWithTwoDecimals) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  const auto result = RunKestrel({"-q", "-d", "-i", input, "--invert"});
  EXPECT_NE(result.out.find("\nGamma: 1.00\nInvert: 1\n"), std::string::npos) << result.out;
}

TEST(CommandLine, RelativeFoldersResolveAgainstTheWorkingDirectory) {
  test::TempDir dir;
  test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  std::filesystem::create_directories(dir.File("out"));
  auto result = RunKestrel({"-q", "-i", "photo.psd", "-o", "./out"}, test::InDirectory(dir.Path()));
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(std::filesystem::exists(dir.File("out/photo.bmp")));

  // An input without a folder writes beside itself in the working directory.
  result = RunKestrel({"-q", "-i", "photo.psd"}, test::InDirectory(dir.Path()));
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(std::filesystem::exists(dir.File("photo.bmp")));

  // Two dots further inside are fine when the folder exists.
  result = RunKestrel({"-q", "-i", "photo.psd", "-o", "out/../out"}, test::InDirectory(dir.Path()));
  EXPECT_EQ(result.exitCode, 0) << result.out;
}

TEST(CommandLine, ExtensionInAnyCaseIsTaken) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "UPPER.PSD", "rgb8", 4, 4);
  EXPECT_EQ(RunKestrel({"-q", "-i", input}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("UPPER.bmp")));
  // Another extension is not taken into the input list.
  std::filesystem::copy_file(input, dir.File("picture.png"));
  const auto other = RunKestrel({"-q", "-i", dir.File("picture.png")});
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_EQ(other.Lines().front(), "Conversion stopped");
}

TEST(CommandLine, AFileThatFailsInTheJobStopsTheConversion) {
  test::TempDir dir;
  test::WriteText(dir.File("broken.psd"), "not a photoshop file");
  const auto result = RunKestrel({"-q", "-d", "-i", dir.File("broken.psd")});
  EXPECT_EQ(result.exitCode, 1);
  const Lines lines = result.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "File Format: [ERROR] UNRECOGNIZED");
  EXPECT_EQ(lines[lines.size() - 2], "[ERROR] Unable to convert the file!");
  EXPECT_EQ(lines.back(), "Conversion stopped");
  EXPECT_EQ(result.err, "kestrel: " + dir.File("broken.psd") + ": not a Photoshop file\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("broken.bmp")));
}

TEST(CommandLine, AFileThatFailsGetsOneLineOnStandardErrorSayingWhy) {
  test::TempDir dir;
  const std::string photo = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 6, 4);  // raw, 3 x 24 bytes of pixels
  const std::string bytes = test::ReadText(photo);
  const auto file = [&dir](const std::string& name, const std::string& content) {
    test::WriteText(dir.File(name), content);
    return dir.File(name);
  };
  std::string deep = bytes;
  deep[23] = 24;  // the low byte of the depth
  std::filesystem::create_directories(dir.File("taken.bmp"));
  // A program without the drawing module beside it, for a run that draws a frame.
  const std::string alone = dir.File("kestrel");
  std::filesystem::copy_file(KESTREL_BINARY, alone);
  struct Case {
    std::string input;
    std::string reason;
    std::vector<std::string> options = {};
    std::string binary = {};
  };
  const Case cases[] = {
      {file("text.psd", "not a photoshop file"), "not a Photoshop file"},
      {file("deep.psd", deep), "damaged Photoshop file: the header gives depth 24"},
      {file("short.psd", bytes.substr(0, bytes.size() - 10)),
       "damaged Photoshop file: the image data is shorter than the header says: 72 bytes needed, 62 present"},
      {file("taken.psd", bytes), "cannot write " + dir.File("taken.bmp") + ": Is a directory"},
      {photo, "cannot find the drawing module kestrel_draw.so", {"--fr-solid-left=2"}, alone},
  };
  for (const Case& failing : cases) {
    SCOPED_TRACE(failing.input);
    Lines arguments = {"-q", "-i", failing.input};
    arguments.insert(arguments.end(), failing.options.begin(), failing.options.end());
    test::RunOptions options;
    options.binary = failing.binary;
    const auto result = RunKestrel(arguments, options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "Conversion stopped\n");
    EXPECT_EQ(result.err, "kestrel: " + failing.input + ": " + failing.reason + "\n");
  }
}

TEST(CommandLine, SecondCopyIsRefused) {
  test::TempDir dir;
  // Hold the lock the way a running copy does.
  const std::string lockPath = dir.File("Tessaline PSD to BMP 3.0.lock");
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const auto result = RunKestrel({"-v"}, test::WithEnvironment("XDG_RUNTIME_DIR", dir.Path()));
  ::close(fd);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("another copy"), std::string::npos);
  // Once released, the program runs again.
  EXPECT_EQ(RunKestrel({"-v"}, test::WithEnvironment("XDG_RUNTIME_DIR", dir.Path())).exitCode, 0);
}

}  // namespace
}  // namespace kestrel
