#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "app/driver.h"
#include "app/profile.h"
#include "model/ini_file.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;
using test::WriteText;

struct ProfileCase {
  const char* name;
  std::string content;  // the file's bytes
  std::function<void(const Settings&)> check;
};

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }

class ProfileContent : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileContent, AppliesTheFirstCliGroup) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  WriteText(path, GetParam().content);
  AppState state;
  std::vector<std::string> lines;
  test::PrepareTestState(state, lines);
  ASSERT_TRUE(ReadProfile(state.settings, path));
  GetParam().check(state.settings);
}

const ProfileCase kProfileCases[] = {
    {"GroupAndKeyInAnyCase", "[cli]\n--width = 640\n",
     [](const Settings& s) {
       EXPECT_EQ(s.Int(SettingId::Width), 640);
       EXPECT_TRUE(s.IsOn(SettingId::DoImageResize));
     }},
    {"OnlyCommentsAndOtherGroups", "; [CLI]\n;--width=5\n[Other]\n--width = 7\n[CLIX]\n--width=9\n",
     [](const Settings& s) {
       EXPECT_EQ(s.Int(SettingId::Width), 0);
       EXPECT_FALSE(s.IsOn(SettingId::DoImageResize));
     }},
    {"BackgroundInAnyForm", "[CLI]\n--BACKGROUND = 0,0,255\n",
     [](const Settings& s) { EXPECT_EQ(s.Text(SettingId::Background), "0000FF"); }},
    {"EmptyFile", "", [](const Settings& s) { EXPECT_EQ(s.Int(SettingId::Width), 0); }},
    {"LaterValueWins", "[CLI]\n--WIDTH=10\n--Width=20\n",
     [](const Settings& s) { EXPECT_EQ(s.Int(SettingId::Width), 20); }},
    {"OnlyTheFirstCliGroupCounts", "--height=1\n[CLI]\n--width=3\n[x]\n--contrast=5\n[Cli]\n--width=4\n--gamma=2\n",
     [](const Settings& s) {
       EXPECT_EQ(s.Int(SettingId::Width), 3);
       EXPECT_EQ(s.Int(SettingId::Height), 0);
       EXPECT_EQ(s.Int(SettingId::Contrast), 0);
       EXPECT_FLOAT_EQ(s.Real(SettingId::Gamma), 1.0f);
     }},
    {"QuotesKeptExceptAroundTheMask", "[CLI]\n--WM-TEXT = \"Hello\"\n--FILENAME-MASK = \"\"%n%.%ext%\"\n",
     [](const Settings& s) {
       EXPECT_EQ(s.Text(SettingId::WmText), "\"Hello\"");
       EXPECT_EQ(s.Text(SettingId::FilenameMask), "%n%.%ext%");
     }},
    {"FrameOpacityHasTheWatermarkKey", "[CLI]\n--FR-SOLID-OPACITY = 50\n",
     [](const Settings& s) { EXPECT_EQ(s.Int(SettingId::FrSolidOpacity), 255); }},
    {"WmSolidOpacitySetsTheFrame", "[CLI]\n--WM-SOLID-OPACITY = 50\n",
     [](const Settings& s) { EXPECT_EQ(s.Int(SettingId::FrSolidOpacity), 50); }},
    {"SwitchesTurnOnWhateverTheValue", "[CLI]\n--INVERT = 0\n--NO-SUBFOLDERS = 0\n--FLIP-VERTICAL\n",
     [](const Settings& s) {
       EXPECT_TRUE(s.IsOn(SettingId::Invert));
       EXPECT_TRUE(s.IsOn(SettingId::DoImageColorCorrection));
       EXPECT_FALSE(s.IsOn(SettingId::KeepSubfolders));
       EXPECT_TRUE(s.IsOn(SettingId::FlipVertical));  // a key line without "="
     }},
    {"EmptyValuesAreAccepted", "[CLI]\n--WM-FONT-SIZE =\n--WM-FONT =  \n--RESIZE-ALGORITHM=\n",
     [](const Settings& s) {
       EXPECT_EQ(s.Int(SettingId::WmFontSize), 0);
       EXPECT_EQ(s.Text(SettingId::WmFont), "");
       EXPECT_EQ(s.Int(SettingId::ResizeAlgorithm), 0);
     }},
    {"LineEndsBlanksAndSeparators",
     "\t [CLI] ignored ; text\r\t --WM-TEXT\t=\t a=b ; c \t\r\n  --ROTATION = -90\r  --RESIZE-ALGORITHM = lanczos \n"
     "--wm-font=--Serif",
     [](const Settings& s) {
       EXPECT_EQ(s.Text(SettingId::WmText), "a=b ; c");
       EXPECT_EQ(s.Int(SettingId::Rotation), -90);
       EXPECT_EQ(s.Int(SettingId::ResizeAlgorithm), 5);
       EXPECT_EQ(s.Text(SettingId::WmFont), "--Serif");
     }},
    {"GroupWithoutClosingBracket", "[CLI\n--THRESHOLD=$10\n",
     [](const Settings& s) {
       EXPECT_EQ(s.Int(SettingId::Threshold), 16);
       EXPECT_TRUE(s.IsOn(SettingId::DoImageThreshold));
     }},
    {"NoRunOrDriverKeys", "[CLI]\n--INPUT=a.psd\n--OUTPUT=/tmp\n--CONVERSION=png\n--DEBUG\n--QUIET\n",
     [](const Settings& s) { EXPECT_EQ(s.Text(SettingId::FilenameMask), "%filename%.%ext%"); }},
    {"Utf8WithByteOrderMark", "\xEF\xBB\xBF[CLI]\n--WM-TEXT = Gr\xC3\xBC\xC3\x9F" "e\n",
     [](const Settings& s) { EXPECT_EQ(s.Text(SettingId::WmText), "Gr\xC3\xBC\xC3\x9F" "e"); }},
    {"Utf8WithoutByteOrderMark", "[CLI]\n--WM-TEXT = \xE2\x98\x85 Gr\xC3\xBC\xC3\x9F" "e\n",
     [](const Settings& s) { EXPECT_EQ(s.Text(SettingId::WmText), "\xE2\x98\x85 Gr\xC3\xBC\xC3\x9F" "e"); }},
    {"Latin1WithoutByteOrderMark", "[CLI]\n--WM-TEXT = Gr\xFC\xDF" "e \xA9\n",
     [](const Settings& s) { EXPECT_EQ(s.Text(SettingId::WmText), "Gr\xC3\xBC\xC3\x9F" "e \xC2\xA9"); }},
    {"InvalidBytesAfterByteOrderMark", "\xEF\xBB\xBF[CLI]\n--WM-TEXT = a\xFF" "b\n",
     [](const Settings& s) { EXPECT_EQ(s.Text(SettingId::WmText), "a\xEF\xBF\xBD" "b"); }},
};

INSTANTIATE_TEST_SUITE_P(Profiles, ProfileContent, ::testing::ValuesIn(kProfileCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFailure, UnreadableProfilesChangeNothing) {
  TempDir dir;
  ::mkdir(dir.File("folder.ini").c_str(), 0755);
  ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0644), 0);  // must not wait for a writer
  for (const std::string& name : {std::string(), dir.File("missing.ini"), dir.File("folder.ini"), dir.File("fifo.ini")}) {
    AppState state;
    std::vector<std::string> lines;
    test::PrepareTestState(state, lines);
    EXPECT_FALSE(ReadProfile(state.settings, name)) << name;
    EXPECT_EQ(state.settings.Int(SettingId::Width), 0);
  }
}

TEST(ProfileOrder, LaterOptionsAndProfilesWin) {
  TempDir dir;
  WriteText(dir.File("p.ini"), "[CLI]\n--WIDTH=640\n");
  WriteText(dir.File("q.ini"), "[CLI]\n--WIDTH=320\n");
  const std::string p = "--profile=" + dir.File("p.ini");
  const std::string q = "--profile=" + dir.File("q.ini");
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{p, "--width=100"}, 100}, {{"--width=100", p}, 640}, {{p, q}, 320}, {{q, p}, 640}};
  for (const auto& [arguments, width] : cases) {
    AppState state;
    std::vector<std::string> lines;
    test::PrepareTestState(state, lines);
    DriverFlags flags;
    EXPECT_EQ(ParseArguments(state, ArgumentList(arguments), flags), "");
    EXPECT_EQ(state.settings.Int(SettingId::Width), width) << arguments.front();
  }
}

TEST(IniFile, EveryGroupIsKeptForLookUps) {
  const IniFile file = ParseIniText("k=0\n[General]\nCFG = 19\n[Window]\nWidth = 510\nwidth = 600\n[general]\nCFG=1\n");
  ASSERT_EQ(file.groups.size(), 3u);
  ASSERT_NE(FindIniValue(file, "GENERAL", "cfg"), nullptr);
  EXPECT_EQ(*FindIniValue(file, "GENERAL", "cfg"), "19");
  EXPECT_EQ(*FindIniValue(file, "Window", "Width"), "600");
  EXPECT_EQ(FindIniValue(file, "Window", "CFG"), nullptr);
  EXPECT_EQ(FindIniValue(file, "Missing", "CFG"), nullptr);
}

// The whole road: the profile's texts reach the debug report unchanged.
TEST(ProfileRun, WatermarkTextArrivesInUtf8) {
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "x.psd", "rgb8", 4, 4);
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\x85";
  const std::pair<std::string, std::string> files[] = {
      {"utf8.ini", "[CLI]\n--WM-TEXT = " + utf8 + "\n"},
      {"latin1.ini", "[CLI]\n--WM-TEXT = Gr\xFC\xDF" "e \xE2\x98\x85\n"},  // not valid UTF-8: Latin-1
  };
  const std::string expected[] = {"Watermark text: " + utf8,
                                  "Watermark text: Gr\xC3\xBC\xC3\x9F" "e \xC3\xA2\xC2\x98\xC2\x85"};
  for (std::size_t i = 0; i < std::size(files); ++i) {
    WriteText(dir.File(files[i].first), files[i].second);
    const auto result = test::RunKestrel({"-d", "-i", input, "-o", dir.Path(), "--profile=" + dir.File(files[i].first)});
    const auto lines = result.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected[i]), lines.end()) << result.out;
  }
}

TEST(ProfileRun, UnreadableProfileEndsTheRun) {
  TempDir dir;
  const auto result = test::RunKestrel({"-i", "x.psd", "--profile=" + dir.Path()});
  EXPECT_EQ(result.exitCode, kExitUsageError);
  EXPECT_NE(result.out.find("Error: Invalid profile file"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace kestrel
