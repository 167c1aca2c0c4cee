#include <gtest/gtest.h>

#include "app/driver.h"
#include "app/options.h"
#include "model/values.h"
#include "tests/support/test_support.h"

#include <unistd.h>

#include "platform/files.h"

namespace kestrel {
namespace {

class Options : public ::testing::Test {
 protected:
  void SetUp() override { test::PrepareTestState(state, lines); }

  // Runs the argument loop; returns the error message.
  std::string Parse(std::vector<std::string> arguments) {
    return ParseArguments(state, ArgumentList(std::move(arguments)), flags);
  }

  std::vector<std::string> lines;
  AppState state;
  DriverFlags flags;
};

TEST(OptionGrammar, NamesAndValues) {
  EXPECT_EQ(OptionName("--Input=photo.psd"), "--INPUT");
  EXPECT_EQ(OptionName("  -i  "), "-I");
  EXPECT_EQ(OptionName("photo.psd"), "");
  EXPECT_EQ(OptionName("--version=whatever"), "--VERSION");
  EXPECT_EQ(OptionName("-x=1"), "-X=1");
  EXPECT_EQ(OptionValue("--width=50=60"), "50=60");
  EXPECT_EQ(OptionValue("--width"), "--width");
  EXPECT_EQ(OptionValue(" photo.psd "), "photo.psd");
  EXPECT_EQ(StripOuterQuotes("\"\"a\"b\"\""), "a\"b");
}

TEST_F(Options, InputInEveryForm) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--Input=photo.psd"}, {"--INPUT=photo.psd"}, {"-i", "photo.psd"}, {"-I", "photo.psd"}}) {
    state.run.input.clear();
    state.run.inputGiven = false;
    EXPECT_EQ(Parse(arguments), "");
    EXPECT_EQ(state.run.input, "photo.psd");
    EXPECT_TRUE(state.run.inputGiven);
  }
}

TEST_F(Options, MissingValuesStopTheLoop) {
  const std::vector<std::vector<std::string>> refused = {
      {"-i"},                   // last argument
      {"-i", "-x.psd"},         // short form value beginning with "-"
      {"--jpg-quality"},        // no "=": the value is the whole argument
      {"--jpg-quality="},       // empty value
      {"-o", "--out"},
      {"--wm-text=--x"},
  };
  for (const auto& arguments : refused) {
    EXPECT_EQ(Parse(arguments), "Incorrect number of parameters") << arguments.front();
  }
  // Later options are not examined after an error.
  EXPECT_EQ(Parse({"--width=", "--invert"}), "Incorrect number of parameters");
  EXPECT_FALSE(state.settings.IsOn(SettingId::Invert));
}

TEST_F(Options, ValuesAreConvertedByClass) {
  EXPECT_EQ(Parse({"--brightness=-20", "--jpg-quality=9x", "--gamma=1,5", "--dither=bayer8", "--bmp-bpp=$10",
                   "--rotation-back-color=\"ff8000\"", "--file-timestamp-custom=5000000000"}),
            "");
  const Settings& s = state.settings;
  EXPECT_EQ(s.Int(SettingId::Brightness), -20);
  EXPECT_TRUE(s.IsOn(SettingId::DoImageColorCorrection));
  EXPECT_EQ(s.Int(SettingId::JpgQuality), 9);
  EXPECT_FLOAT_EQ(s.Real(SettingId::Gamma), 1.0f);
  EXPECT_EQ(s.Int(SettingId::Dither), 2);
  EXPECT_TRUE(s.IsOn(SettingId::DoImageDither));
  EXPECT_EQ(s.Int(SettingId::BmpBpp), 16);
  EXPECT_EQ(s.Text(SettingId::RotationBackColor), "ff8000");
  EXPECT_EQ(s.Date(SettingId::FileTimestampCustom), 5000000000LL);
}

TEST_F(Options, UnknownKeywordStillTurnsTheStepOn) {
  EXPECT_EQ(Parse({"--dither=unknown"}), "");
  EXPECT_EQ(state.settings.Int(SettingId::Dither), 0);
  EXPECT_TRUE(state.settings.IsOn(SettingId::DoImageDither));
}

TEST_F(Options, SwitchesIgnoreTheirValue) {
  EXPECT_EQ(Parse({"--invert=0", "--no-subfolders", "--png-interlaced=no", "-q", "-P", "--debug"}), "");
  EXPECT_TRUE(state.settings.IsOn(SettingId::Invert));
  EXPECT_TRUE(state.settings.IsOn(SettingId::DoImageColorCorrection));
  EXPECT_FALSE(state.settings.IsOn(SettingId::KeepSubfolders));
  EXPECT_TRUE(state.settings.IsOn(SettingId::PngInterlaced));
  EXPECT_TRUE(flags.quiet);
  EXPECT_TRUE(flags.pause);
  EXPECT_EQ(state.run.runMode, "DEBUG");
}

TEST_F(Options, QuotedWordsAreJoined) {
  EXPECT_EQ(Parse({"--wm-text=\"Hello", "big", "world\"", "--width=5"}), "");
  EXPECT_EQ(state.settings.Text(SettingId::WmText), "Hello big world");
  EXPECT_EQ(state.settings.Int(SettingId::Width), 5);
  // Arguments run out: the value stays as built, quotes removed.
  EXPECT_EQ(Parse({"--wm-font=\"DejaVu", "Sans"}), "");
  EXPECT_EQ(state.settings.Text(SettingId::WmFont), "DejaVu Sans");
}

TEST_F(Options, ConversionLosesQuotesButIsNotJoined) {
  EXPECT_EQ(Parse({"-c", "\"bmp\""}), "");
  EXPECT_EQ(state.run.conversion, "bmp");
  EXPECT_EQ(Parse({"--conversion=\"bm", "p\""}), "");
  EXPECT_EQ(state.run.conversion, "bm");
}

TEST_F(Options, ExtraFlagsAreNeverCleared) {
  EXPECT_EQ(Parse({"--wm-text=a", "--wm-image=b.png"}), "");
  EXPECT_EQ(state.settings.Int(SettingId::DoWatermark), 2);
  EXPECT_EQ(Parse({"--wm-image=b.png", "--wm-text=a"}), "");
  EXPECT_EQ(state.settings.Int(SettingId::DoWatermark), 1);
  EXPECT_EQ(Parse({"--fr-solid-left-color=ff0000", "--rotation-type=advanced"}), "");
  EXPECT_EQ(state.settings.Int(SettingId::DoFrame), 0);
  EXPECT_FALSE(state.settings.IsOn(SettingId::DoImageRotation));
  EXPECT_EQ(Parse({"--fr-solid-top=3"}), "");
  EXPECT_EQ(state.settings.Int(SettingId::DoFrame), 1);
}

TEST_F(Options, LaterOptionsWinAndOddArgumentsAreSkipped) {
  std::vector<std::string> errors;
  state.printError = [&errors](std::string_view line) { errors.emplace_back(line); };
  EXPECT_EQ(Parse({"-i", "a.psd", "stray", "-", "--", "   ", "--nonsense=1", "-h", "-i", "b.psd"}), "");
  EXPECT_EQ(state.run.input, "b.psd");
  // Skipped, but each unknown option is said as it was typed; help, read
  // only as the first argument, is skipped quietly later on.
  const std::vector<std::string> said = {"kestrel: unknown option -, ignored", "kestrel: unknown option --, ignored",
                                         "kestrel: unknown option --nonsense, ignored"};
  EXPECT_EQ(errors, said);
}

TEST_F(Options, ProfileThatCannotBeReadIsAnError) {
  EXPECT_EQ(Parse({"--profile=/nonexistent/profile.ini", "--invert"}), "Invalid profile file");
  EXPECT_FALSE(state.settings.IsOn(SettingId::Invert));
}

TEST_F(Options, SmallFieldsKeepTheirLowBits) {
  EXPECT_EQ(Parse({"--bmp-bpp=4294967304"}), "");
  EXPECT_EQ(state.settings.Int(SettingId::BmpBpp), 8);
}

TEST_F(Options, CommandLineDefaults) {
  const Settings& s = state.settings;
  EXPECT_FALSE(s.IsOn(SettingId::KeepAspectRatio));
  EXPECT_TRUE(s.IsOn(SettingId::KeepSubfolders));
  EXPECT_EQ(s.Int(SettingId::JpgQuality), 95);
  EXPECT_EQ(s.Int(SettingId::RawToneMapping), 2);
  EXPECT_EQ(s.Int(SettingId::ResizeAlgorithm), 3);
  EXPECT_EQ(s.Int(SettingId::WmTextPosition), 8);
  EXPECT_EQ(s.Int(SettingId::WmBackOpacity), 1);
  EXPECT_EQ(s.Text(SettingId::WmFont), "Arial");
  EXPECT_EQ(s.Text(SettingId::FilenameMask), "%filename%.%ext%");
  EXPECT_FLOAT_EQ(s.Real(SettingId::Gamma), 1.0f);
  EXPECT_EQ(s.Text(SettingId::InputFormat), "psd");
  EXPECT_EQ(s.Text(SettingId::OutputFormat), "bmp");
  EXPECT_GT(state.run.randomNumber, 0);
  EXPECT_LE(state.run.randomNumber, 99999);
  EXPECT_EQ(state.run.sequenceNumber, 1);
}

TEST_F(Options, BackgroundTakesHexDecimalAndNamedColours) {
  EXPECT_EQ(state.settings.Text(SettingId::Background), "FFFFFF");
  const struct {
    std::vector<std::string> arguments;
    std::string stored;
  } cases[] = {
      {{"--background=#00ff80"}, "00FF80"},
      {{"--BACKGROUND=00ff80"}, "00FF80"},
      {{"--background=10,20,255"}, "0A14FF"},
      {{"--background=\"10,", "20,", "30\""}, "0A141E"},
      {{"--background=Black"}, "000000"},
      {{"--background=grey"}, "808080"},
      {{"--background=10,20"}, "10,20"},  // kept as it came: the run's check refuses it
      {{"--background=nocolour"}, "nocolour"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.arguments), "");
    EXPECT_EQ(state.settings.Text(SettingId::Background), c.stored) << c.arguments.front();
  }
}

TEST(ColourText, ReadsEveryFormOfAColour) {
  EXPECT_EQ(ReadColour("#FFFFFF"), "FFFFFF");
  EXPECT_EQ(ReadColour(" #a0b1c2 "), "A0B1C2");
  EXPECT_EQ(ReadColour("0,0,0"), "000000");
  EXPECT_EQ(ReadColour(" 255 , 128 ,1"), "FF8001");
  EXPECT_EQ(ReadColour("WHITE"), "FFFFFF");
  EXPECT_EQ(ReadColour("gray"), "808080");
  for (const char* refused : {"", "#FFF", "#GGGGGG", "256,0,0", "1,2,3,4", "1,,3", "-1,0,0", "1.5,0,0", "bluish"}) {
    EXPECT_EQ(ReadColour(refused), std::nullopt) << refused;
  }
  for (const NamedColour& colour : NamedColours()) EXPECT_EQ(ReadColour(colour.name), std::string(colour.digits));
}

TEST(ColourText, PacksRedGreenBlue) {
  EXPECT_EQ(PackColourText("FF8000"), 0x0080FFu);
  EXPECT_EQ(PackColourText("ff8000"), 0x0080FFu);
  EXPECT_EQ(PackColourText("0000FF", 128), 0x80FF0000u);
  EXPECT_EQ(PackColourText("FF800"), 0u);
  EXPECT_EQ(PackColourText("FF80000"), 0u);
  EXPECT_EQ(PackColourText("F?8000"), 0x00800Fu);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// "Open with": bare arguments that name existing files become the window's
// inputs, as full paths; option values and bare arguments naming nothing do not.
TEST(OpenWith, BareArgumentsNamingFilesBecomeTheWindowsInputs) {
  test::TempDir dir;
  const std::string a = test::MakePsd(dir.Path(), "a b.psd", "rgb8", 4, 4);
  const std::string profile = dir.File("p.ini");
  test::WriteText(profile, "[Settings]\n");
  AppState state;
  std::vector<std::string> lines;
  state.print = [&lines](std::string_view line) { lines.emplace_back(line); };
  const DriverResult result =
      RunDriver(state, {a, dir.File("gone.psd"), "--profile=" + profile, "-o", profile, "p.ini"}, "kestrel");
  EXPECT_EQ(result.window, WindowMode::Main);
  EXPECT_EQ(state.windowInputs, std::vector<std::string>{a});
  EXPECT_TRUE(lines.empty());

  // A relative name is taken from the working folder.
  const std::string here = CurrentDirectory();
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  AppState relative;
  relative.print = state.print;
  RunDriver(relative, {"a b.psd"}, "kestrel");
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(relative.windowInputs, std::vector<std::string>{dir.Path() + "/a b.psd"});
}

}  // namespace
}  // namespace kestrel
