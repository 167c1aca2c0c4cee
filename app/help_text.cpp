#include "app/help_text.h"

#include <algorithm>

#include "model/command_options.h"
#include "model/messages.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// A line of the help: literal text, an example showing a source extension in
// %s2%, an option described by name from its table, or the list of every
// setting option. Option names and placeholders come from the option tables,
// so the help cannot name an option the parser does not read.
struct HelpLine {
  enum class Kind { Text, Example, Command, Setting, EverySetting } kind;
  std::string_view text;  // the line, or the option's description
  CommandOption command = CommandOption::Help;
  SettingId setting = SettingId::None;
};

constexpr HelpLine Text(std::string_view text) { return {HelpLine::Kind::Text, text}; }
constexpr HelpLine Example(std::string_view text) { return {HelpLine::Kind::Example, text}; }
constexpr HelpLine Command(CommandOption option, std::string_view text) {
  return {HelpLine::Kind::Command, text, option};
}
constexpr HelpLine Setting(SettingId id, std::string_view text) {
  return {HelpLine::Kind::Setting, text, CommandOption::Help, id};
}

constexpr HelpLine kHelp[] = {
    Text(" "),
    Text("Usage: %s1% -i <filename> [options]"),
    Text(" "),
    Example("  %s1% -i example.%s2%"),
    Example("  %s1% -i ~/Pictures/example.%s2%"),
    Example("  %s1% -i ~/Pictures/example.%s2% -o ~/converted"),
    Example("  %s1% -i ~/Pictures/example.%s2% -o ~/converted --bmp-bpp=24"),
    Text(" "),
    Text("Options:"),
    Text(" "),
    Command(CommandOption::Help, "Display this help and exit"),
    Command(CommandOption::Input, "Set input file"),
    Command(CommandOption::Output, "Set output folder"),
    Command(CommandOption::Conversion, "Set output extension, STR = bmp"),
    Text(" "),
    Text("Advanced options:"),
    Text(" "),
    Setting(SettingId::Width, "Set output image width"),
    Setting(SettingId::Height, "Set output image height"),
    Setting(SettingId::FilenameMask, "Define output filename format"),
    Setting(SettingId::FlipHorizontal, "Flip output image horizontally"),
    Setting(SettingId::FlipVertical, "Flip output image vertically"),
    Setting(SettingId::Brightness, "Set output image brightness, NUM = -100..100"),
    Setting(SettingId::Contrast, "Set output image contrast, NUM = -100..100"),
    Setting(SettingId::Gamma, "Set output image gamma, NUM = 0.01..9.99"),
    Setting(SettingId::Invert, "Invert output image"),
    Setting(SettingId::Greyscale, "Greyscale output image"),
    Command(CommandOption::Profile, "Set configuration file with required settings"),
    Text("    ...                     Refer to man kestrel for all available options"),
    Text(" "),
    Text("Other options:"),
    Text(" "),
    Command(CommandOption::Quiet, "Don't print status messages to stdout"),
    Command(CommandOption::Debug, "Print debug information to stdout"),
    Command(CommandOption::Pause, "Pause at exit"),
    Command(CommandOption::Version, "Display version information and exit"),
    Text(" "),
    Text("Options of this edition:"),
    Text(" "),
    Command(CommandOption::InputFolder, "Convert every PSD and PSB file below a folder"),
    Command(CommandOption::InputList, "Convert the files listed in FILE (- reads stdin)"),
    Command(CommandOption::InputList0, "The same for a list of NUL-terminated names"),
    Command(CommandOption::Jobs, "Run NUM conversions at once (default: one per CPU)"),
    Command(CommandOption::Update, "Skip files whose output is already up to date"),
    Setting(SettingId::KeepSubfolders, "Put every output straight into the output folder"),
    Setting(SettingId::Background, "Put transparent pictures on COLOR where alpha goes"),
    Setting(SettingId::BmpHeader, "BMP header: basic, or v5 (alpha every reader sees)"),
    Command(CommandOption::Stdout, "Write the one picture to standard output"),
    Command(CommandOption::Info, "Print each file's facts, FORM = text | json"),
    Command(CommandOption::Layer, "Draw one layer or group alone: index or Group/Name"),
    Command(CommandOption::LayerCrop, "Crop --layer's picture to the layer's bounds"),
    Command(CommandOption::EachLayer, "Write each top-level layer or group to its own file"),
    Command(CommandOption::Thumbnail, "Write a PNG thumbnail of the -i file, NUM wide"),
    Command(CommandOption::ThumbnailOut, "The thumbnail's file (with --thumbnail)"),
    Command(CommandOption::ConvertInWindow, "Convert the files named in the window"),
    Text(" "),
    Text("Setting options (each described in the manual):"),
    Text(" "),
    {HelpLine::Kind::EverySetting, ""},
    Text(" "),
    Text("Full documentation: man kestrel"),
};

// Descriptions start in this column, as in the lines above.
constexpr std::size_t kDescriptionColumn = 28;
constexpr std::size_t kLineWidth = 79;

std::string Lower(std::string_view name) { return LowerCase(name); }

std::string CommandNames(const CommandOptionRow& row) {
  const std::string placeholder(Placeholder(row.value));
  std::string names;
  for (const auto shortName : row.shortNames) {
    if (shortName.empty()) continue;
    names += Lower(shortName) + (placeholder.empty() ? "" : " " + placeholder) + ", ";
  }
  return names + Lower(row.longName) + (placeholder.empty() ? "" : "=" + placeholder);
}

std::string SettingNames(const SettingRow& row) {
  const std::string placeholder(Placeholder(row));
  return Lower(row.optionName) + (placeholder.empty() ? "" : "=" + placeholder);
}

std::string OptionLine(const std::string& names, std::string_view description) {
  std::string line = "  " + names;
  line.resize(std::max(line.size() + 2, kDescriptionColumn), ' ');
  return line.append(description);
}

const CommandOptionRow& CommandRow(CommandOption id) {
  for (const auto& row : CommandOptionRows()) {
    if (row.id == id) return row;
  }
  return CommandOptionRows().front();
}

// Every option name of the settings table, filled into lines.
void AppendEverySettingOption(std::vector<std::string>& lines) {
  std::string line = " ";
  for (const auto& row : SettingRows()) {
    if (row.optionName.empty()) continue;
    const std::string name = Lower(row.optionName);
    if (line.size() + 1 + name.size() > kLineWidth) {
      lines.push_back(line);
      line.resize(1);  // the indent's first blank
    }
    line.append(" ").append(name);
  }
  if (line.size() > 1) lines.push_back(line);
}

}  // namespace

std::vector<std::string> HelpLines(const std::string& programFileName, const FormatRegistry& formats) {
  std::vector<std::string> lines;
  for (const auto& line : kHelp) {
    switch (line.kind) {
      case HelpLine::Kind::Text:
        lines.push_back(FormatMessage(line.text, programFileName, ""));
        break;
      case HelpLine::Kind::Example: {
        std::string source;
        if (!formats.sourceFormats.empty()) {
          const int pick = UniformRandom(0, static_cast<int>(formats.sourceFormats.size()) - 1);
          source = formats.sourceFormats[static_cast<std::size_t>(pick)];
        }
        lines.push_back(FormatMessage(line.text, programFileName, source));
        break;
      }
      case HelpLine::Kind::Command:
        lines.push_back(OptionLine(CommandNames(CommandRow(line.command)), line.text));
        break;
      case HelpLine::Kind::Setting:
        lines.push_back(OptionLine(SettingNames(RowOf(line.setting)), line.text));
        break;
      case HelpLine::Kind::EverySetting:
        AppendEverySettingOption(lines);
        break;
    }
  }
  return lines;
}

}  // namespace kestrel
