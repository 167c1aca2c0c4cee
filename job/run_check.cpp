#include "job/run_check.h"

#include <charconv>
#include <span>

#include "engine/steps/drawing.h"
#include "model/formats.h"
#include "model/keywords.h"
#include "model/values.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Report lines of the source format.
struct SourceSection {
  std::string_view extension;
  std::initializer_list<SettingId> lines;
};

const SourceSection kSourceSections[] = {
    {"dds", {SettingId::DdsLoadAs}},
    {"gif", {SettingId::GifFrameLoading}},
    {"ico", {SettingId::IcoFrameLoading}},
    {"psd", {SettingId::PsdColorMode}},
    {"raw", {SettingId::RawLoadAs, SettingId::RawHeaderSize, SettingId::RawWidth, SettingId::RawHeight,
             SettingId::RawToneMapping}},
    {"tiff", {SettingId::TiffFrameLoading}},
};

// The colour adjustments whose values the command line checks against their rows' ranges.
constexpr SettingId kColourAdjustments[] = {SettingId::Brightness, SettingId::Contrast, SettingId::Gamma};

constexpr SettingId kFrameLines[] = {
    SettingId::FrSolidLeft,      SettingId::FrSolidRight,      SettingId::FrSolidTop,
    SettingId::FrSolidBottom,    SettingId::FrSolidLeftColor,  SettingId::FrSolidRightColor,
    SettingId::FrSolidTopColor,  SettingId::FrSolidBottomColor, SettingId::FrSolidOpacity};

// The report of one watermark kind: its own lines, then offset, rotation and size.
struct WatermarkLines {
  std::initializer_list<SettingId> lines;
  SettingId xOffset, yOffset, rotation, size;
};

const WatermarkLines kTextWatermark{
    {SettingId::WmText, SettingId::WmFont, SettingId::WmFontSize, SettingId::WmFontLeading, SettingId::WmFontColor,
     SettingId::WmFontStyle, SettingId::WmFontEffect, SettingId::WmTextAntialiasing, SettingId::WmTextAlignment,
     SettingId::WmTextPadding, SettingId::WmTextOpacity, SettingId::WmBackColor, SettingId::WmBackOpacity,
     SettingId::WmTextBoundary, SettingId::WmTextPosition},
    SettingId::WmTextXOffset, SettingId::WmTextYOffset, SettingId::WmTextRotation, SettingId::WmTextSize};

const WatermarkLines kImageWatermark{
    {SettingId::WmImage, SettingId::WmImageGreyscale, SettingId::WmImageOpacity, SettingId::WmImageBoundary,
     SettingId::WmImagePosition},
    SettingId::WmImageXOffset, SettingId::WmImageYOffset, SettingId::WmImageRotation, SettingId::WmImageSize};

std::string FormatGamma(float gamma) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, gamma, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

std::string ValueText(const Settings& settings, SettingId id) {
  const SettingRow& row = RowOf(id);
  switch (row.kind) {
    case ValueKind::Text:
    case ValueKind::Colour: return settings.Text(id);
    case ValueKind::Real: return FormatGamma(settings.Real(id));
    case ValueKind::Date: return std::to_string(settings.Date(id));
    case ValueKind::Kw8:
    case ValueKind::Kw32: return std::string(KeywordTextOf(row, settings.Int(id)));
    default: return std::to_string(settings.Int(id));
  }
}

// One run's check under way: what it has found so far and the report it prints.
struct Check {
  const AppState& state;
  const Settings& settings;
  Face face;
  const ReportSink& report;
  CheckedRun result;

  bool OnCommandLine() const { return face == Face::CommandLine; }
  std::string Value(SettingId id) const { return ValueText(settings, id); }
  void Line(std::string_view line) const {
    if (report) report(line);
  }
  void Show(SettingId id) const {
    if (report) report(std::string(RowOf(id).debugLabel) + Value(id));
  }
  void Show(std::span<const SettingId> ids) const {
    for (SettingId id : ids) Show(id);
  }
  bool Refuse(std::string line, std::string_view message, std::string detail = {}) {
    result.refusal = RunRefusal{std::move(line), message, std::move(detail)};
    return false;
  }
};

bool CheckInput(Check& c) {
  if (!c.OnCommandLine()) return !c.state.inputs.empty() || c.Refuse("Error: Invalid input file", "Empty input files");
  const std::string& input = c.state.run.input;
  if (input.empty() && !c.state.inputs.empty()) {
    // A batch: its files were collected already, and each is checked as it is converted.
    c.Line("Input files: " + std::to_string(c.state.inputs.size()));
    return true;
  }
  const std::string& label = c.state.run.inputLabel;
  c.Line("Input: " + (label.empty() ? input : label));
  c.result.input = input;
  if (ExtensionOf(label.empty() ? input : label).empty() || FileSizeQuery(input) <= 0) {
    return c.Refuse("Error: Invalid input file", "Empty input files");
  }
  return true;
}

// Relative folders resolve against the working directory. The command line
// takes the input's folder when none is given and refuses one that starts
// with "..", which the window's list never offers.
bool CheckOutputFolder(Check& c) {
  std::string output = c.state.run.output;
  if (c.OnCommandLine()) {
    // A piped input has no folder: its output goes to the working directory.
    if (output.empty() && c.state.run.inputLabel.empty()) output = FolderPart(c.result.input);
    c.Line("Output: " + output);
    if (StartsWith(output, "..")) return c.Refuse("Error: Incorrect output folder", "Invalid output folder", output);
    if (StartsWith(output, "./")) output.erase(0, 2);
  } else if (output.empty()) {
    return c.Refuse("Error: Invalid output folder", "Empty output folder");
  }
  if (!StartsWith(output, "/")) output = CurrentDirectory() + output;
  if (!EndsWith(output, "/")) output += "/";
  if (FileSizeQuery(output) != kPathIsFolder) {
    return c.Refuse("Error: Invalid output folder", "Invalid output folder", output);
  }
  c.result.output = std::move(output);
  return true;
}

bool CheckConversion(Check& c) {
  const RunState& run = c.state.run;
  c.result.conversion = run.conversion.empty() ? c.state.formats.targetFormats.front() : run.conversion;
  c.Line("Conversion: " + c.result.conversion);
  if (!IsConversionTarget(c.state.formats, c.result.conversion)) {
    return c.Refuse("Error: Invalid conversion type", "Invalid conversion type");
  }
  return true;
}

// The source and output format's own values (the command line's checks only).
bool CheckFormatValues(Check& c) {
  if (!c.OnCommandLine()) return true;
  const RunState& run = c.state.run;
  const std::string& source = run.sourceExtension.empty() ? c.state.formats.sourceFormats.front() : run.sourceExtension;
  for (const auto& section : kSourceSections) {
    if (section.extension == source) c.Show(section.lines);
  }
  const OutputFormat* format = FindOutputFormat(c.result.conversion);
  if (format == nullptr) return true;
  c.Show(format->reportLines);
  const std::string extension(format->extension);
  if (!IsAllowedDepth(extension, c.settings.Int(format->depthSetting))) {
    return c.Refuse("Error: Invalid " + extension + "-bpp value", {});
  }
  if (format->quality != SettingId::None && !WithinRange(c.settings, format->quality)) {
    return c.Refuse("Error: Invalid " + extension + "-quality value", {});
  }
  c.Show(SettingId::Background);
  if (ReadColour(c.settings.Text(SettingId::Background)) != c.settings.Text(SettingId::Background)) {
    return c.Refuse("Error: Invalid background value", {});
  }
  return true;
}

bool CheckGeometry(Check& c) {
  const Settings& settings = c.settings;
  if (settings.IsOn(SettingId::DoImageRotation)) {
    c.Show({{SettingId::RotationType, SettingId::Rotation, SettingId::RotationBackColor}});
  }
  if (settings.IsOn(SettingId::DoImageResize)) {
    c.Line("Width: " + c.Value(SettingId::Width) + " " + c.Value(SettingId::WidthUnit));
    if (settings.Int(SettingId::Width) == 0) return c.Refuse("Error: Invalid width value", "Invalid width");
    c.Line("Height: " + c.Value(SettingId::Height) + " " + c.Value(SettingId::HeightUnit));
    if (settings.Int(SettingId::Height) == 0) return c.Refuse("Error: Invalid height value", "Invalid height");
    c.Show({{SettingId::KeepAspectRatio, SettingId::ResizeType, SettingId::ResizeAlgorithm}});
  }
  c.Show({{SettingId::FlipHorizontal, SettingId::FlipVertical}});
  return true;
}

bool CheckColour(Check& c) {
  const Settings& settings = c.settings;
  if (settings.IsOn(SettingId::DoImageColorCorrection)) {
    for (const SettingId id : kColourAdjustments) {
      c.Show(id);
      if (c.OnCommandLine() && !WithinRange(settings, id)) {
        return c.Refuse("Error: Invalid " + LowerCase(RowOf(id).key) + " value", {});
      }
    }
    c.Show(SettingId::Invert);
  }
  c.Show(SettingId::Greyscale);
  if (settings.IsOn(SettingId::DoImageThreshold)) c.Show(SettingId::Threshold);
  if (settings.IsOn(SettingId::DoImageDither)) c.Show(SettingId::Dither);
  return true;
}

void ShowWatermark(Check& c, const WatermarkLines& mark) {
  c.Show(mark.lines);
  c.Line("Watermark offset (x/y): " + c.Value(mark.xOffset) + "/" + c.Value(mark.yOffset));
  c.Show({{mark.rotation, mark.size}});
}

bool CheckDecoration(Check& c) {
  const Settings& settings = c.settings;
  c.Show(SettingId::DoFrame);
  if (settings.Int(SettingId::DoFrame) == 1) c.Show(kFrameLines);
  c.Show(SettingId::DoWatermark);
  const int watermark = settings.Int(SettingId::DoWatermark);
  if (watermark == 1) {
    ShowWatermark(c, kTextWatermark);
    c.result.font = OpenWatermarkFont(settings);
    if (!c.result.font) {
      // Said here, as the refusal itself cannot tell a missing module from a missing font.
      if (const std::string why = DrawingUnavailableReason(); !why.empty()) ReportProblem(c.state, why);
      return c.Refuse("Error: Invalid watermark font", "Invalid watermark font", settings.Text(SettingId::WmFont));
    }
  } else if (watermark == 2) {
    ShowWatermark(c, kImageWatermark);
    const std::string& image = settings.Text(SettingId::WmImage);
    if (image.empty()) return c.Refuse("Error: Invalid watermark image", "Empty watermark image");
    if (FileSizeQuery(image) <= 0) return c.Refuse("Error: Invalid watermark image", "Invalid watermark image", image);
  }
  c.Show({{SettingId::FilenameMask, SettingId::FileTimestamp}});
  if (settings.Int(SettingId::FileTimestamp) == 2) c.Show(SettingId::FileTimestampCustom);
  c.Show(SettingId::KeepSubfolders);
  return true;
}

}  // namespace

SaveParameters DeriveSaveParameters(const AppState& state, std::string_view conversion) {
  SaveParameters save;
  save.formatId = OutputFormatId(conversion);
  const SettingId depth = DepthSettingOf(conversion);
  save.depth = depth == SettingId::None ? 0 : state.settings.Int(depth);
  save.flags = SaveFlags(state.settings, conversion);
  save.automaticDepth = save.depth == 0;
  return save;
}

CheckedRun CheckRun(const AppState& state, Face face, const ReportSink& report) {
  Check c{state, state.settings, face, report, {}};
  const bool accepted = CheckInput(c) && CheckOutputFolder(c) && CheckConversion(c) && CheckFormatValues(c) &&
                        CheckGeometry(c) && CheckColour(c) && CheckDecoration(c);
  if (accepted) c.result.save = DeriveSaveParameters(state, c.result.conversion);
  return std::move(c.result);
}

void ApplyCheckedRun(AppState& state, const CheckedRun& checked) {
  RunState& run = state.run;
  if (!checked.input.empty()) {
    run.currentInputPath = checked.input;
    run.input.clear();  // so that a command-line input has no subfolder
  }
  run.output = checked.output;
  run.conversion = checked.conversion;
  run.outputFormatCode = checked.save.formatId;
  run.outputDepth = checked.save.depth;
  run.saveFlags = checked.save.flags;
  run.automaticDepth = checked.save.automaticDepth;
  state.watermarkFont = checked.font;
}

}  // namespace kestrel
