// The run check both faces share: which refusal each face gets for the same
// settings, and what an accepted run puts into the state.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <functional>
#include <limits>

#include "job/job.h"
#include "job/run_check.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct RefusalCase {
  const char* name;
  std::function<void(AppState&, const std::string& folder)> change;
  const char* commandLine;  // the command line's line, or "" when it accepts
  const char* window;       // the window's message key, or "" when it accepts
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

void SetInput(AppState& state, const std::string& path) {
  state.run.input = path;
  state.inputs.clear();
  AddInputFile(state, path);
}

const RefusalCase kCases[] = {
    {"accepted", [](AppState&, const std::string&) {}, "", ""},
    {"no_input", [](AppState& s, const std::string& f) { SetInput(s, f + "/missing.psd"); },
     "Error: Invalid input file", ""},
    {"empty_input", [](AppState& s, const std::string& f) { SetInput(s, f + "/empty.psd"); },
     "Error: Invalid input file", "Empty input files"},
    {"output_outside", [](AppState& s, const std::string&) { s.run.output = "../x"; },
     "Error: Incorrect output folder", "Invalid output folder"},
    {"output_missing", [](AppState& s, const std::string& f) { s.run.output = f + "/nowhere"; },
     "Error: Invalid output folder", "Invalid output folder"},
    {"conversion", [](AppState& s, const std::string&) { s.run.conversion = "png"; },
     "Error: Invalid conversion type", "Invalid conversion type"},
    {"depth", [](AppState& s, const std::string&) { s.settings.SetNumber(SettingId::BmpBpp, 7); },
     "Error: Invalid bmp-bpp value", ""},
    {"width",
     [](AppState& s, const std::string&) {
       s.settings.SetNumber(SettingId::DoImageResize, 1);
       s.settings.SetNumber(SettingId::Height, 10);
     },
     "Error: Invalid width value", "Invalid width"},
    {"brightness",
     [](AppState& s, const std::string&) {
       s.settings.SetNumber(SettingId::DoImageColorCorrection, 1);
       s.settings.SetNumber(SettingId::Brightness, 101);
     },
     "Error: Invalid brightness value", ""},
    {"gamma_nan",
     [](AppState& s, const std::string&) {
       s.settings.SetNumber(SettingId::DoImageColorCorrection, 1);
       s.settings.SetReal(SettingId::Gamma, std::numeric_limits<float>::quiet_NaN());
     },
     "Error: Invalid gamma value", ""},
    {"watermark_image_empty", [](AppState& s, const std::string&) { s.settings.SetNumber(SettingId::DoWatermark, 2); },
     "Error: Invalid watermark image", "Empty watermark image"},
    {"watermark_image_missing",
     [](AppState& s, const std::string& f) {
       s.settings.SetNumber(SettingId::DoWatermark, 2);
       s.settings.SetText(SettingId::WmImage, f + "/missing.png");
     },
     "Error: Invalid watermark image", "Invalid watermark image"},
};

class RunCheckRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RunCheckRefusal, EachFaceRefusesInItsOwnWords) {
  const test::TempDir dir;
  test::WriteText(dir.File("empty.psd"), "");
  const std::string input = test::MakePsd(dir.Path(), "in.psd", "rgb8", 4, 4);
  for (const Face face : {Face::CommandLine, Face::Window}) {
    AppState state;
    std::vector<std::string> lines;
    test::PrepareTestState(state, lines);
    state.run.output = dir.Path();
    SetInput(state, input);
    GetParam().change(state, dir.Path());
    const std::string expected = face == Face::CommandLine ? GetParam().commandLine : GetParam().window;
    const CheckedRun checked = CheckRun(state, face);
    if (expected.empty()) {
      EXPECT_FALSE(checked.refusal) << (face == Face::Window ? "window: " : "command line: ")
                                    << checked.refusal->line;
      continue;
    }
    ASSERT_TRUE(checked.refusal) << expected;
    EXPECT_EQ(face == Face::CommandLine ? checked.refusal->line : std::string(checked.refusal->message), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RunCheckRefusal, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A command-line run of a small file into the folder it lies in.
class RunCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    test::PrepareTestState(state, lines);
    SetInput(state, test::MakePsd(dir.Path(), "in.psd", "rgb8", 4, 4));
  }
  const test::TempDir dir;
  AppState state;
  std::vector<std::string> lines;
};

TEST_F(RunCheck, AnAcceptedRunCompletesTheFolderAndDerivesTheSaveParameters) {
  state.settings.SetNumber(SettingId::BmpBpp, 8);
  state.settings.SetNumber(SettingId::BmpCompression, 1);
  const AppState& before = state;
  const CheckedRun checked = CheckRun(before, Face::CommandLine);
  ASSERT_FALSE(checked.refusal);
  EXPECT_EQ(checked.output, dir.Path() + "/");
  EXPECT_EQ(checked.conversion, "bmp");
  EXPECT_EQ(checked.save.depth, 8);
  EXPECT_EQ(checked.save.flags, BMP_SAVE_RLE);
  EXPECT_EQ(checked.save.formatId, FIF_BMP);
  EXPECT_FALSE(checked.save.automaticDepth);
  // The check only reads: the run state changes when the face applies it.
  EXPECT_TRUE(state.run.conversion.empty());
  ApplyCheckedRun(state, checked);
  EXPECT_EQ(state.run.output, dir.Path() + "/");
  EXPECT_EQ(state.run.outputDepth, 8);
  EXPECT_TRUE(state.run.input.empty());
}

TEST_F(RunCheck, TheReportStopsAtTheRefusedValue) {
  state.settings.SetNumber(SettingId::DoImageColorCorrection, 1);
  state.settings.SetNumber(SettingId::Contrast, -101);
  state.run.output = dir.Path();
  std::vector<std::string> report;
  const CheckedRun checked =
      CheckRun(state, Face::CommandLine, [&report](std::string_view line) { report.emplace_back(line); });
  ASSERT_TRUE(checked.refusal);
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[report.size() - 2], "Brightness: 0");
  EXPECT_EQ(report.back(), "Contrast: -101");
  // The window checks no ranges and reports nothing.
  EXPECT_FALSE(CheckRun(state, Face::Window).refusal);
}

}  // namespace
}  // namespace kestrel
