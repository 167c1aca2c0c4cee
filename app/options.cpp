#include "app/options.h"

#include "model/keywords.h"
#include "app/profile.h"
#include "model/values.h"
#include "platform/text.h"

namespace kestrel {
namespace {

enum class DriverOption {
  None, Input, Output, Conversion, Profile, Debug, Quiet, Pause,
  InputFolder, InputList, InputList0, Jobs, Update
};

// Options that set the run record or the driver rather than a setting.
DriverOption FindDriverOption(std::string_view name) {
  if (name == "-I" || name == "--INPUT") return DriverOption::Input;
  if (name == "-O" || name == "--OUTPUT") return DriverOption::Output;
  if (name == "-C" || name == "--CONVERSION") return DriverOption::Conversion;
  if (name == "--PROFILE") return DriverOption::Profile;
  if (name == "-D" || name == "--DEBUG") return DriverOption::Debug;
  if (name == "-Q" || name == "--QUIET") return DriverOption::Quiet;
  if (name == "-P" || name == "--PAUSE") return DriverOption::Pause;
  if (name == "--INPUT-FOLDER") return DriverOption::InputFolder;
  if (name == "--INPUT-LIST") return DriverOption::InputList;
  if (name == "--INPUT-LIST0") return DriverOption::InputList0;
  if (name == "--JOBS") return DriverOption::Jobs;
  if (name == "--UPDATE") return DriverOption::Update;
  return DriverOption::None;
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

void HandleOption(AppState& state, const ArgumentList& args, int& position, const std::string& name,
                  std::string& error, DriverFlags& flags) {
  if (name.empty()) return;
  std::string value;
  switch (FindDriverOption(name)) {
    case DriverOption::Input:
      if (!TakeValue(args, position, name, true, true, value, error)) return;
      state.run.input = value;
      state.run.inputGiven = true;
      flags.sources.push_back({BatchSource::Kind::File, value});
      return;
    case DriverOption::InputFolder:
    case DriverOption::InputList:
    case DriverOption::InputList0: {
      if (!TakeValue(args, position, name, false, true, value, error)) return;
      using Kind = BatchSource::Kind;
      const DriverOption option = FindDriverOption(name);
      const Kind kind = option == DriverOption::InputFolder ? Kind::Folder
                        : option == DriverOption::InputList ? Kind::List
                                                            : Kind::NulList;
      flags.sources.push_back({kind, value});
      flags.batch = true;
      state.run.inputGiven = true;
      return;
    }
    case DriverOption::Jobs: {
      if (!TakeValue(args, position, name, false, false, value, error)) return;
      const std::string_view digits = TrimBlanks(value);
      int jobs = 0;
      for (const char c : digits) {
        if (c < '0' || c > '9' || jobs > 9999) {
          jobs = 0;
          break;
        }
        jobs = jobs * 10 + (c - '0');
      }
      if (jobs < 1 || jobs > 1024) {
        error = kInvalidJobs;
        return;
      }
      flags.jobs = jobs;
      return;
    }
    case DriverOption::Update:
      flags.update = true;
      return;
    case DriverOption::Output:
      if (!TakeValue(args, position, name, true, true, value, error)) return;
      state.run.output = value;
      return;
    case DriverOption::Conversion:
      if (!TakeValue(args, position, name, true, false, value, error)) return;
      state.run.conversion = StripOuterQuotes(value);
      return;
    case DriverOption::Profile:
      if (!TakeValue(args, position, name, false, true, value, error)) return;
      if (!ReadProfile(state.settings, value)) error = kInvalidProfileFile;
      return;
    case DriverOption::Debug:
      state.run.runMode = "DEBUG";
      return;
    case DriverOption::Quiet:
      flags.quiet = true;
      return;
    case DriverOption::Pause:
      flags.pause = true;
      return;
    case DriverOption::None:
      break;
  }

  const SettingRow* row = FindRowByOption(name);
  if (row == nullptr) return;  // unknown names are skipped
  const bool takesValue = row->option != OptionClass::Switch && row->option != OptionClass::SwitchClear;
  if (takesValue &&
      !TakeValue(args, position, name, false, row->option == OptionClass::Joined || row->option == OptionClass::Colour,
                 value, error)) {
    return;
  }
  ApplySettingValue(state.settings, *row, value);
}

}  // namespace kestrel
