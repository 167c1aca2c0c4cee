#include "app/options.h"

#include "job/thumbnail.h"
#include "model/command_options.h"
#include "model/keywords.h"
#include "app/profile.h"
#include "model/values.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// A count written in plain digits within [low, high] (low at least 1); 0 when it is not one.
int CountIn(std::string_view text, int low, int high) {
  const std::string_view digits = TrimBlanks(text);
  int count = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9' || count > high) return 0;
    count = count * 10 + (c - '0');
  }
  return count >= low && count <= high ? count : 0;
}

// Reads the value of a valued option: advances past a short form's value,
// checks it, and joins a quoted phrase spread over several arguments.
// Returns false (with the error set) when the value is missing.
bool TakeValue(const ArgumentList& args, int& position, const std::string& name, bool hasShortForm,
               bool joined, std::string& value, std::string& error) {
  if (hasShortForm && !StartsWith(name, "--")) ++position;
  value = OptionValue(args.At(position));
  const bool refused = value.empty() || (hasShortForm ? StartsWith(value, "-") : StartsWith(value, "--"));
  if (refused) {
    error = kIncorrectParameters;
    return false;
  }
  if (joined && StartsWith(value, "\"") && !EndsWith(value, "\"")) {
    while (position < args.Count() - 1) {
      ++position;
      value.append(" ").append(OptionValue(args.At(position)));
      if (EndsWith(value, "\"")) break;
    }
  }
  if (joined) value = StripOuterQuotes(value);
  return true;
}

}  // namespace

const std::string& ArgumentList::At(int position) const {
  static const std::string kEmpty;
  if (position < 0 || position >= Count()) return kEmpty;
  return args_[static_cast<std::size_t>(position)];
}

std::string OptionName(std::string_view argument) {
  const std::string_view trimmed = TrimBlanks(argument);
  if (!StartsWith(trimmed, "-")) return {};
  std::string_view name = trimmed;
  if (StartsWith(trimmed, "--")) name = trimmed.substr(0, trimmed.find('='));
  return UpperCase(name);
}

std::string OptionValue(std::string_view argument) {
  const std::string_view trimmed = TrimBlanks(argument);
  if (StartsWith(trimmed, "--")) {
    const auto equals = trimmed.find('=');
    if (equals != std::string_view::npos) return std::string(trimmed.substr(equals + 1));
  }
  return std::string(trimmed);
}

std::string StripOuterQuotes(std::string_view value) {
  const auto first = value.find_first_not_of('"');
  if (first == std::string_view::npos) return {};
  const auto last = value.find_last_not_of('"');
  return std::string(value.substr(first, last - first + 1));
}

void ApplySettingValue(Settings& settings, const SettingRow& row, std::string_view value) {
  switch (row.option) {
    case OptionClass::None:
      return;
    case OptionClass::Integer:
      settings.SetNumber(row.id, row.kind == ValueKind::Date ? ReadLenientInteger64(value)
                                                             : ReadLenientInteger(value));
      break;
    case OptionClass::Real:
      settings.SetReal(row.id, ReadReal(value));
      break;
    case OptionClass::Keyword:
      settings.SetNumber(row.id, KeywordLookup(TrimBlanks(value), row.keywordSet));
      break;
    case OptionClass::Joined:
      settings.SetText(row.id, std::string(value));
      break;
    case OptionClass::Colour:
      // Text that is no colour is kept as it came, and the run's check refuses it.
      settings.SetText(row.id, ReadColour(value).value_or(std::string(value)));
      break;
    case OptionClass::Switch:
      settings.SetNumber(row.id, 1);
      break;
    case OptionClass::SwitchClear:
      settings.SetNumber(row.id, 0);
      break;
  }
  if (row.extraFlag != SettingId::None) settings.SetNumber(row.extraFlag, row.extraValue);
}

namespace {

// Options that set the run record or the driver rather than a setting.
void HandleCommandOption(AppState& state, const ArgumentList& args, int& position, const std::string& name,
                         const CommandOptionRow& command, std::string& error, DriverFlags& flags) {
  const bool hasShortForm = !command.shortNames[0].empty();
  std::string value;
  switch (command.id) {
    case CommandOption::Input:
      // "-i -" reads standard input; any other value that begins with "-" is a missing one.
      if (!StartsWith(name, "--") && TrimBlanks(args.At(position + 1)) == "-") {
        value.assign(1, '-');  // (assigning the literal trips a false -Wrestrict in GCC 12)
        ++position;
      } else if (!TakeValue(args, position, name, hasShortForm, true, value, error)) {
        return;
      }
      state.run.input = value;
      state.run.inputGiven = true;
      flags.sources.push_back({BatchSource::Kind::File, value});
      return;
    case CommandOption::InputFolder:
    case CommandOption::InputList:
    case CommandOption::InputList0: {
      if (!TakeValue(args, position, name, hasShortForm, true, value, error)) return;
      using Kind = BatchSource::Kind;
      const Kind kind = command.id == CommandOption::InputFolder ? Kind::Folder
                        : command.id == CommandOption::InputList ? Kind::List
                                                                  : Kind::NulList;
      flags.sources.push_back({kind, value});
      flags.batch = true;
      state.run.inputGiven = true;
      return;
    }
    case CommandOption::Jobs: {
      if (!TakeValue(args, position, name, hasShortForm, false, value, error)) return;
      const int jobs = CountIn(value, 1, 1024);
      if (jobs == 0) error = kInvalidJobs;
      else flags.jobs = jobs;
      return;
    }
    case CommandOption::Thumbnail: {
      if (!TakeValue(args, position, name, hasShortForm, false, value, error)) return;
      const int size = CountIn(value, kSmallestThumbnail, kLargestThumbnail);
      if (size == 0) error = kInvalidThumbnailSize;
      else flags.thumbnailSize = size;
      return;
    }
    case CommandOption::ConvertInWindow:
      flags.convertInWindow = true;
      return;
    case CommandOption::ThumbnailOut:
      if (!TakeValue(args, position, name, hasShortForm, true, value, error)) return;
      flags.thumbnailOut = value;
      return;
    case CommandOption::Update:
      flags.update = true;
      return;
    case CommandOption::Stdout:
      flags.toStdout = true;
      return;
    case CommandOption::Info: {
      // --info alone is the text for people; --info=json the form for scripts.
      const std::string_view argument = TrimBlanks(args.At(position));
      if (argument.find('=') == std::string_view::npos) {
        flags.info = InfoForm::Text;
      } else if (const std::string form = LowerCase(TrimBlanks(OptionValue(argument))); form == "json") {
        flags.info = InfoForm::Json;
      } else if (form == "text") {
        flags.info = InfoForm::Text;
      } else {
        error = kInvalidInfoForm;
      }
      return;
    }
    case CommandOption::Layer:
      if (!TakeValue(args, position, name, hasShortForm, true, value, error)) return;
      flags.layer = value;
      return;
    case CommandOption::LayerCrop:
      flags.layerCrop = true;
      return;
    case CommandOption::EachLayer:
      flags.eachLayer = true;
      return;
    case CommandOption::Output:
      if (!TakeValue(args, position, name, hasShortForm, true, value, error)) return;
      state.run.output = value;
      return;
    case CommandOption::Conversion:
      if (!TakeValue(args, position, name, hasShortForm, false, value, error)) return;
      state.run.conversion = StripOuterQuotes(value);
      return;
    case CommandOption::Profile:
      if (!TakeValue(args, position, name, hasShortForm, true, value, error)) return;
      if (!ReadProfile(state.settings, value)) error = kInvalidProfileFile;
      return;
    case CommandOption::Debug:
      state.run.runMode = "DEBUG";
      return;
    case CommandOption::Quiet:
      flags.quiet = true;
      return;
    case CommandOption::Pause:
      flags.pause = true;
      return;
    case CommandOption::Help:  // read only as the first argument
    case CommandOption::Version:
      return;
  }
}

}  // namespace

void HandleOption(AppState& state, const ArgumentList& args, int& position, const std::string& name,
                  std::string& error, DriverFlags& flags) {
  if (name.empty()) return;
  if (const CommandOptionRow* command = FindCommandOption(name)) {
    HandleCommandOption(state, args, position, name, *command, error, flags);
    return;
  }
  std::string value;
  const SettingRow* row = FindRowByOption(name);
  if (row == nullptr) {
    if (FindFirstArgumentOption(name) != nullptr) return;  // help and version, met later, are skipped quietly
    // Skipped, but said: a mistyped option would otherwise change a run unnoticed.
    const std::string_view typed = TrimBlanks(args.At(position));
    ReportProblem(state, "unknown option " + OneLineOfText(typed.substr(0, typed.find('='))) + ", ignored");
    return;
  }
  const bool joined = row->option == OptionClass::Joined || row->option == OptionClass::Colour;
  if (!IsSwitch(*row) && !TakeValue(args, position, name, false, joined, value, error)) {
    return;
  }
  ApplySettingValue(state.settings, *row, value);
}

}  // namespace kestrel
