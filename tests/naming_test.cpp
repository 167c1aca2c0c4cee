#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <dirent.h>

#include "output/naming.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;

// A state as the pipeline leaves it right before the save.
class Naming : public ::testing::Test {
 protected:
  void SetUp() override {
    test::PrepareTestState(state, lines);
    state.run.output = "/out/";
    state.run.conversion = "bmp";
    state.run.currentInputPath = "/in/Holiday.PSD";
    state.run.outputDepth = 24;
    state.run.imageWidth = 640;
    state.run.imageHeight = 480;
    state.run.randomNumber = 42;
    state.run.sequenceNumber = 1;
  }
  std::string Name(const std::string& mask, const std::string& input) {
    state.settings.SetText(SettingId::FilenameMask, mask);
    state.run.currentInputPath = input;
    return ExpandFileNameMask(state);
  }

  std::vector<std::string> lines;
  AppState state;
};

struct MaskCase {
  const char* mask;
  const char* input;
  const char* expected;
};

TEST_F(Naming, MasksExpandTheirTokens) {
  const MaskCase cases[] = {
      {"%filename%.%ext%", "/in/Holiday.PSD", "Holiday.bmp"},
      {"", "/in/Holiday.PSD", "Holiday.bmp"},
      {"%FILENAME[U]%_%Ext[T]%.%EXT%", "/in/holiday.psd", "HOLIDAY_Bmp.bmp"},
      {"Copy of %filename%.%ext%", "/in/Holiday.psd", "copy of Holiday.bmp"},
      {"%filename[t]%.%ext%", "/in/hOLIDAY.psd", "Holiday.bmp"},
      {"%filename[l]%.%ext[u]%", "/in/HoLiDay.psd", "holiday.BMP"},
      {"%filename%-%filename%.%ext%", "/in/a.psd", "a-a.bmp"},
      {"%name%.%ext%", "/in/a.psd", "%name%.bmp"},
      {"%n%_%rnd%.%ext%", "/in/a.psd", "00001_00042.bmp"},
      {"%width%x%height%-%bpp%.%ext%", "/in/a.psd", "640x480-24.bmp"},
      {"%filename%.%ext%", "/in/archive.tar.psd", "archive.tar.bmp"},
      {"%filename%.%ext%", "/in/My Photo.psd", "My Photo.bmp"},
      // The mask is searched again after each token, so a name holding a token is expanded.
      {"%filename%.%ext%", "/in/a%ext%.psd", "abmp.bmp"},
      // Unicode case mapping: the title case of a name beginning with a two-byte letter.
      {"%filename[t]%", "/in/\xC3\xA9\x43OLE.psd", "\xC3\x89" "cole"},
      {"%filename[u]%", "/in/stra\xC3\x9F" "e.psd", "STRASSE"},
      {"\xC3\x89T\xC3\x89_%filename%", "/in/A.psd", "\xC3\xA9t\xC3\xA9_A"},
  };
  for (const auto& c : cases) EXPECT_EQ(Name(c.mask, c.input), c.expected) << c.mask << " " << c.input;
}

TEST_F(Naming, LayerTokenIsTheLayersNameMadeSafeForAFileName) {
  struct Case {
    int index;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {-1, "Sky", "a-.bmp"},                 // no layer drawn alone: empty
      {3, "Sky", "a-Sky.bmp"},
      {3, "Sky/Clouds", "a-Sky_Clouds.bmp"},  // never a folder
      {3, "back\\slash", "a-back_slash.bmp"},
      {3, "tab\there", "a-tab_here.bmp"},
      {3, "  ", "a-layer-3.bmp"},
      {4, "..", "a-layer-4.bmp"},
      {3, "100%n%", "a-100%n%.bmp"},          // token-like text in a name stays as it is
  };
  for (const Case& c : cases) {
    state.run.layerIndex = c.index;
    state.run.layerName = c.name;
    EXPECT_EQ(Name("%filename%-%layer%.%ext%", "/in/a.psd"), c.expected) << c.name;
  }
}

TEST_F(Naming, SequenceAndRandomNumbersArePaddedNeverCut) {
  state.run.sequenceNumber = 123456;
  state.run.randomNumber = 99999;
  EXPECT_EQ(Name("%n%-%rnd%", "/in/a.psd"), "123456-99999");
}

TEST_F(Naming, DateTokensReadTheLocalClock) {
  const auto stamp = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text);
  };
  const std::string before = stamp();
  const std::string name = Name("%YYYY%%mm%%dd%-%hh%%ii%%ss%", "/in/a.psd");
  const std::string after = stamp();
  EXPECT_TRUE(name == before || name == after) << name;
}

TEST_F(Naming, ReplaceNameTokenTakesOneKnownToken) {
  EXPECT_EQ(ReplaceNameToken(state, "x%EXT%y%ext%", "%ext%"), "xbmpybmp");
  EXPECT_EQ(ReplaceNameToken(state, "x%eol%", "%eol%"), "x%eol%");
  EXPECT_EQ(ReplaceNameToken(state, "%filename%", "%ext%"), "%filename%");
}

TEST_F(Naming, WatermarkTextKeepsItsCase) {
  state.run.currentInputPath = "/in/a%ext%.psd";
  const std::pair<const char*, const char*> cases[] = {
      {"Size %WIDTH% px", "Size 640 px"},
      {"100% sure", "100% sure"},
      {"%filename%", "a%ext%"},  // tested on the text as given
      {"Line%eol%%Ext[U]%", "Line%eol%BMP"},
      {"%", "%"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ExpandWatermarkText(state, text), expected) << text;
}

TEST(FileBaseName, DropsFolderAndLastExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"/in/Holiday.PSD", "Holiday"}, {"archive.tar.psd", "archive.tar"}, {"/a.b/c", "c"},
      {"/in/.hidden", ".hidden"},     {"/in/a.b c", "a.b c"},             {"/in/name.", "name"},
      {"C:\\In\\x.psd", "x"},         {"", ""},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(FileBaseName(path), expected) << path;
}

TEST_F(Naming, OutputPathJoinsFolderSubfolderAndName) {
  state.run.relativeSubfolder = "2024/";
  state.run.currentInputPath = "/in/Holiday.PSD";
  EXPECT_EQ(BuildOutputPath(state), "/out/2024/Holiday.bmp");
  state.settings.SetNumber(SettingId::KeepSubfolders, 0);
  EXPECT_EQ(BuildOutputPath(state), "/out/Holiday.bmp");
  // A name may reach into a subfolder of the output folder, never out of it.
  const std::pair<const char*, const char*> masks[] = {
      {"sub/%filename%.%ext%", "/out/sub/Holiday.bmp"},
      {"..x/%filename%", "/out/..x/Holiday"},
      {"../%filename%.%ext%", ""},
      {"sub/../../%filename%", ""},
      {"%filename%/..", ""},
  };
  for (const auto& [mask, expected] : masks) {
    state.settings.SetText(SettingId::FilenameMask, mask);
    EXPECT_EQ(BuildOutputPath(state), expected) << mask;
  }
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Names checked on the files the program writes.
TEST(NamingRun, WrittenFilesCarryTheExpandedNames) {
  struct Case {
    std::string mask;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"%FILENAME[U]%_%Ext[T]%.%EXT%", "holiday.psd", "HOLIDAY_Bmp.bmp"},
      {"%width%x%height%-%bpp%.%ext%", "a.psd", "6x4-24.bmp"},
      {"\"%n%_%filename%.%ext%\"", "My Photo.psd", "00001_My Photo.bmp"},
  };
  for (const Case& c : cases) {
    TempDir in;
    TempDir out;
    const std::string input = test::MakePsd(in.Path(), c.input, "rgb8", 6, 4);
    const auto result = test::RunKestrel({"-i", input, "-o", out.Path(), "--filename-mask=" + c.mask});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string>{c.expected}) << c.mask;
  }
}

TEST(NamingRun, SubfolderInTheMaskMustExist) {
  TempDir in;
  TempDir out;
  const std::string input = test::MakePsd(in.Path(), "a.psd", "rgb8", 4, 4);
  const std::vector<std::string> arguments = {"-d", "-i", input, "-o", out.Path(), "--filename-mask=sub/%filename%.%ext%"};

  auto result = test::RunKestrel(arguments);
  EXPECT_NE(result.out.find("[ERROR] Unable to convert the file!"), std::string::npos) << result.out;
  EXPECT_NE(result.exitCode, 0);
  EXPECT_TRUE(FilesIn(out.Path()).empty()) << "no folder is created";

  ASSERT_EQ(::mkdir((out.Path() + "/sub").c_str(), 0755), 0);
  result = test::RunKestrel(arguments);
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_NE(result.out.find("[OK] Saving As: " + out.Path() + "/sub/a.bmp"), std::string::npos) << result.out;
  EXPECT_EQ(FilesIn(out.Path() + "/sub"), std::vector<std::string>{"a.bmp"});
}

TEST(NamingRun, MaskCannotLeaveTheOutputFolder) {
  TempDir root;
  const std::string out = root.File("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  const std::string input = test::MakePsd(root.Path(), "a.psd", "rgb8", 4, 4);
  const auto result = test::RunKestrel({"-i", input, "-o", out, "--filename-mask=../escaped.bmp"});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_EQ(FilesIn(root.Path()), (std::vector<std::string>{"a.psd", "out"}));
  EXPECT_TRUE(FilesIn(out).empty());
}

}  // namespace
}  // namespace kestrel
