#include "job/validate_and_launch.h"

#include <charconv>

#include "model/keywords.h"
#include "engine/drawing.h"
#include "job/job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Debug lines of the source format.
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

// Debug lines and checks of the output format. Every format's depth is checked;
// some have a quality that must lie in 1..100.
struct OutputSection {
  std::string_view extension;
  std::initializer_list<SettingId> lines;
  SettingId quality;
};

const OutputSection kOutputSections[] = {
    {"bmp", {SettingId::BmpBpp, SettingId::BmpCompression, SettingId::BmpColorTable}, SettingId::None},
    {"dds", {SettingId::DdsBpp}, SettingId::None},
    {"exr", {SettingId::ExrBpp, SettingId::ExrCompression}, SettingId::None},
    {"gif", {SettingId::GifBpp}, SettingId::None},
    {"hdr", {SettingId::HdrBpp}, SettingId::None},
    {"ico", {SettingId::IcoBpp}, SettingId::None},
    {"j2k", {SettingId::J2kBpp}, SettingId::None},
    {"jng", {SettingId::JngBpp}, SettingId::None},
    {"jp2", {SettingId::Jp2Bpp}, SettingId::None},
    {"jpg", {SettingId::JpgBpp, SettingId::JpgQuality, SettingId::JpgChroma, SettingId::JpgSaveAs},
     SettingId::JpgQuality},
    {"jxr", {SettingId::JxrBpp}, SettingId::None},
    {"pbm", {SettingId::PbmBpp}, SettingId::None},
    {"pcx", {SettingId::PcxBpp}, SettingId::None},
    {"pfm", {SettingId::PfmBpp}, SettingId::None},
    {"pgm", {SettingId::PgmBpp}, SettingId::None},
    {"png", {SettingId::PngBpp, SettingId::PngCompression, SettingId::PngInterlaced}, SettingId::None},
    {"ppm", {SettingId::PpmBpp}, SettingId::None},
    {"psd", {SettingId::PsdBpp}, SettingId::None},
    {"tga", {SettingId::TgaBpp, SettingId::TgaCompression}, SettingId::None},
    {"tiff", {SettingId::TiffBpp, SettingId::TiffCompression, SettingId::TiffColorMode}, SettingId::None},
    {"wbmp", {SettingId::WbmpBpp}, SettingId::None},
    {"webp", {SettingId::WebpBpp, SettingId::WebpQuality}, SettingId::WebpQuality},
    {"xpm", {SettingId::XpmBpp}, SettingId::None},
};

constexpr SettingId kTextWatermarkLines[] = {
    SettingId::WmText,         SettingId::WmFont,           SettingId::WmFontSize,
    SettingId::WmFontLeading,  SettingId::WmFontColor,      SettingId::WmFontStyle,
    SettingId::WmFontEffect,   SettingId::WmTextAntialiasing, SettingId::WmTextAlignment,
    SettingId::WmTextPadding,  SettingId::WmTextOpacity,    SettingId::WmBackColor,
    SettingId::WmBackOpacity,  SettingId::WmTextBoundary,   SettingId::WmTextPosition};

constexpr SettingId kImageWatermarkLines[] = {SettingId::WmImage, SettingId::WmImageGreyscale,
                                              SettingId::WmImageOpacity, SettingId::WmImageBoundary,
                                              SettingId::WmImagePosition};

constexpr SettingId kFrameLines[] = {
    SettingId::FrSolidLeft,      SettingId::FrSolidRight,      SettingId::FrSolidTop,
    SettingId::FrSolidBottom,    SettingId::FrSolidLeftColor,  SettingId::FrSolidRightColor,
    SettingId::FrSolidTopColor,  SettingId::FrSolidBottomColor, SettingId::FrSolidOpacity};

std::string FormatGamma(float gamma) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, gamma, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

// Prints the report and the failure lines of one run.
class Report {
 public:
  Report(AppState& state, bool debug) : state_(state), debug_(debug) {}

  void Debug(std::string_view line) const {
    if (debug_) state_.print(line);
  }
  void Setting(SettingId id) const {
    if (debug_) state_.print(std::string(RowOf(id).debugLabel) + ReportValue(state_, id));
  }
  bool Fail(std::string_view line) const {
    state_.print(line);
    return false;
  }

 private:
  AppState& state_;
  bool debug_;
};

bool OutsideRange(int value, int low, int high) { return value < low || value > high; }

}  // namespace

std::string ReportValue(const AppState& state, SettingId id) {
  const SettingRow& row = RowOf(id);
  const Settings& settings = state.settings;
  switch (row.kind) {
    case ValueKind::Text:
    case ValueKind::Colour:
      return settings.Text(id);
    case ValueKind::Real:
      return FormatGamma(settings.Real(id));
    case ValueKind::Date:
      return std::to_string(settings.Date(id));
    case ValueKind::Kw8:
    case ValueKind::Kw32: {
      const int value = settings.Int(id);
      if (row.keywordSet == 4) {
        const auto keywords = CompressionKeywords(state.run.conversion);
        return value >= 0 && static_cast<std::size_t>(value) < keywords.size()
                   ? std::string(keywords[static_cast<std::size_t>(value)])
                   : std::string();
      }
      return std::string(KeywordText(row.keywordSet, value));
    }
    default:
      return std::to_string(settings.Int(id));
  }
}

void DeriveSaveParameters(AppState& state) {
  RunState& run = state.run;
  const Settings& settings = state.settings;
  run.outputFormatCode = OutputFormatId(state.formats, run.conversion);
  const SettingId depth = DepthSettingOf(run.conversion);
  run.outputDepth = depth == SettingId::None ? 0 : settings.Int(depth);
  run.saveFlags = SaveFlags(settings, run.conversion);
  run.automaticDepth = run.outputDepth == 0;
}

bool ValidateAndLaunch(AppState& state, bool quiet) {
  RunState& run = state.run;
  const Settings& settings = state.settings;
  const Report report(state, run.runMode == "DEBUG");
  auto unlessQuiet = [&](const std::string& line) {
    if (!quiet) state.print(line);
  };
  auto text = [&](std::string_view group, std::string_view key) {
    return CatalogueText(state.messages, group, key);
  };

  unlessQuiet(text("General", "Preparing"));

  // Input file.
  report.Debug("Input: " + run.input);
  if (ExtensionOf(run.input).empty()) {
    run.input.clear();
    return report.Fail("Error: Invalid input file");
  }
  run.currentInputPath = run.input;
  run.input.clear();
  if (FileSizeQuery(run.currentInputPath) <= 0) return report.Fail("Error: Invalid input file");

  // Output folder: relative folders resolve against the working directory.
  if (run.output.empty()) run.output = FolderPart(run.currentInputPath);
  report.Debug("Output: " + run.output);
  if (StartsWith(run.output, "..")) return report.Fail("Error: Incorrect output folder");
  if (!StartsWith(run.output, "/")) {
    std::string_view relative = run.output;
    if (StartsWith(relative, "./")) relative.remove_prefix(2);
    run.output = CurrentDirectory() + std::string(relative);
  }
  if (!EndsWith(run.output, "/")) run.output += "/";
  if (FileSizeQuery(run.output) != kPathIsFolder) return report.Fail("Error: Invalid output folder");

  // Conversion.
  if (run.sourceExtension.empty()) run.sourceExtension = state.formats.sourceFormats.front();
  if (run.conversion.empty()) run.conversion = state.formats.targetFormats.front();
  report.Debug("Conversion: " + run.conversion);
  if (!IsConversionTarget(state.formats, run.conversion)) return report.Fail("Error: Invalid conversion type");

  for (const auto& section : kSourceSections) {
    if (section.extension == run.sourceExtension) {
      for (SettingId id : section.lines) report.Setting(id);
    }
  }

  for (const auto& section : kOutputSections) {
    if (section.extension != run.conversion) continue;
    for (SettingId id : section.lines) report.Setting(id);
    const SettingId depth = DepthSettingOf(section.extension);
    if (!IsAllowedDepth(state.formats, section.extension, settings.Int(depth))) {
      return report.Fail("Error: Invalid " + std::string(section.extension) + "-bpp value");
    }
    if (section.quality != SettingId::None && OutsideRange(settings.Int(section.quality), 1, 100)) {
      return report.Fail("Error: Invalid " + std::string(section.extension) + "-quality value");
    }
  }

  if (settings.IsOn(SettingId::DoImageRotation)) {
    report.Setting(SettingId::RotationType);
    report.Setting(SettingId::Rotation);
    report.Setting(SettingId::RotationBackColor);
  }

  if (settings.IsOn(SettingId::DoImageResize)) {
    report.Debug("Width: " + ReportValue(state, SettingId::Width) + " " + ReportValue(state, SettingId::WidthUnit));
    if (settings.Int(SettingId::Width) == 0) return report.Fail("Error: Invalid width value");
    report.Debug("Height: " + ReportValue(state, SettingId::Height) + " " +
                 ReportValue(state, SettingId::HeightUnit));
    if (settings.Int(SettingId::Height) == 0) return report.Fail("Error: Invalid height value");
    report.Setting(SettingId::KeepAspectRatio);
    report.Setting(SettingId::ResizeType);
    report.Setting(SettingId::ResizeAlgorithm);
  }

  report.Setting(SettingId::FlipHorizontal);
  report.Setting(SettingId::FlipVertical);

  if (settings.IsOn(SettingId::DoImageColorCorrection)) {
    report.Setting(SettingId::Brightness);
    if (OutsideRange(settings.Int(SettingId::Brightness), -100, 100)) {
      return report.Fail("Error: Invalid brightness value");
    }
    report.Setting(SettingId::Contrast);
    if (OutsideRange(settings.Int(SettingId::Contrast), -100, 100)) {
      return report.Fail("Error: Invalid contrast value");
    }
    report.Setting(SettingId::Gamma);
    const float gamma = settings.Real(SettingId::Gamma);
    // Written so that NaN fails too.
    if (!(gamma >= 0.01f && gamma <= 9.99f)) return report.Fail("Error: Invalid gamma value");
    report.Setting(SettingId::Invert);
  }

  report.Setting(SettingId::Greyscale);
  if (settings.IsOn(SettingId::DoImageThreshold)) report.Setting(SettingId::Threshold);
  if (settings.IsOn(SettingId::DoImageDither)) report.Setting(SettingId::Dither);

  report.Setting(SettingId::DoFrame);
  if (settings.Int(SettingId::DoFrame) == 1) {
    for (SettingId id : kFrameLines) report.Setting(id);
  }

  report.Setting(SettingId::DoWatermark);
  const int watermark = settings.Int(SettingId::DoWatermark);
  if (watermark == 1) {
    for (SettingId id : kTextWatermarkLines) report.Setting(id);
    report.Debug("Watermark offset (x/y): " + ReportValue(state, SettingId::WmTextXOffset) + "/" +
                 ReportValue(state, SettingId::WmTextYOffset));
    report.Setting(SettingId::WmTextRotation);
    report.Setting(SettingId::WmTextSize);
    state.watermarkFont = OpenWatermarkFont(settings);
    if (!state.watermarkFont) return report.Fail("Error: Invalid watermark font");
  } else if (watermark == 2) {
    for (SettingId id : kImageWatermarkLines) report.Setting(id);
    report.Debug("Watermark offset (x/y): " + ReportValue(state, SettingId::WmImageXOffset) + "/" +
                 ReportValue(state, SettingId::WmImageYOffset));
    report.Setting(SettingId::WmImageRotation);
    report.Setting(SettingId::WmImageSize);
    if (FileSizeQuery(settings.Text(SettingId::WmImage)) <= 0) return report.Fail("Error: Invalid watermark image");
  }

  report.Setting(SettingId::FilenameMask);
  report.Setting(SettingId::FileTimestamp);
  if (settings.Int(SettingId::FileTimestamp) == 2) report.Setting(SettingId::FileTimestampCustom);
  report.Setting(SettingId::KeepSubfolders);

  DeriveSaveParameters(state);

  unlessQuiet(text("General", "Importing"));
  const std::string extension = LowerCase(ExtensionOf(run.currentInputPath));
  int fileCount = 0;
  if (extension != "txt" && extension != "lst") fileCount = AddInputFile(state, run.currentInputPath) ? 1 : 0;
  unlessQuiet(FormatMessage(text("Msg", "Import complete"), std::to_string(fileCount)));

  const int total = fileCount;
  if (total == 0) {
    state.print(text("Msg", "Conversion is not complete"));
    state.print(text("Msg", "Empty input files"));
    return false;
  }

  unlessQuiet(text("General", "Converting"));
  {
    std::lock_guard lock(state.status.mutex);
    state.status.fileIndex = 0;
    state.status.currentFile.clear();
    state.status.fileCount = 0;
    state.status.running = true;
  }
  // The command line has nothing to do while the job runs, so it runs on this thread.
  RunConversionJob(state);

  int converted = 0;
  {
    std::lock_guard lock(state.status.mutex);
    converted = state.status.fileCount;
  }
  state.watermarkFont.reset();
  if (converted == 0) {
    state.print(text("Msg", "Conversion is not complete"));
    return false;
  }
  unlessQuiet(text("Msg", "Conversion complete"));
  unlessQuiet(FormatMessage(text("Msg", "Files converted"), std::to_string(converted), std::to_string(total)));
  return true;
}

}  // namespace kestrel
