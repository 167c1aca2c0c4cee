#include "app/driver.h"

#include <algorithm>

#include "app/help_text.h"
#include "app/info_run.h"
#include "app/layer_run.h"
#include "app/piped_run.h"
#include "app/options.h"
#include "job/job.h"
#include "job/thumbnail.h"
#include "model/command_options.h"
#include "model/program.h"
#include "platform/console.h"
#include "platform/files.h"
#include "app/validate_and_launch.h"

namespace kestrel {
namespace {

// The bare arguments that name existing files, as full paths: a file manager's
// "Open with" passes them, and the window opens with them as its inputs. A
// bare argument that names nothing is left alone.
std::vector<std::string> ExistingFiles(const std::vector<std::string>& bare) {
  std::vector<std::string> files;
  for (const std::string& argument : bare) {
    if (argument.empty() || FileSizeQuery(argument) < 0) continue;
    files.push_back(argument.front() == '/' ? argument : CurrentDirectory() + argument);
  }
  return files;
}

// A thumbnail run: one input, the size and the PNG to write, nothing else
// written and nothing printed unless it fails.
int RunThumbnail(const DriverFlags& flags, std::string& error) {
  const bool oneFile = flags.sources.size() == 1 && flags.sources.front().kind == BatchSource::Kind::File;
  if (!oneFile || flags.thumbnailSize == 0 || flags.thumbnailOut.empty()) {
    error = kThumbnailNeeds;
    return kExitUsageError;
  }
  const std::string& input = flags.sources.front().value;
  if (Outcome written = WriteThumbnail(input, flags.thumbnailOut, flags.thumbnailSize); !written) {
    WriteErrorLine("kestrel: " + input + ": " + written.failure);
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

bool NeedsInstanceLock(const std::vector<std::string>& arguments) {
  return std::none_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
    const CommandOptionRow* row = FindCommandOption(OptionName(argument));
    return row != nullptr && row->id == CommandOption::Thumbnail;
  });
}

std::string ParseArguments(AppState& state, const ArgumentList& args, DriverFlags& flags) {
  std::string error;
  for (int position = 0; position <= args.Count() - 1; ++position) {
    const std::string name = OptionName(args.At(position));
    if (name.empty()) flags.bare.push_back(args.At(position));
    HandleOption(state, args, position, name, error, flags);
    if (!error.empty()) break;
  }
  return error;
}

DriverResult RunDriver(AppState& state, const std::vector<std::string>& arguments,
                       const std::string& programFileName) {
  const ArgumentList args(arguments);
  if (args.Count() == 0) return {WindowMode::Main, kExitSuccess};

  PrepareCommandLineState(state);
  const std::string title = TitleText();

  // Modes recognised only as the first argument.
  const std::string first = OptionName(args.At(0));
  if (first == "-U") return {WindowMode::Maintenance, kExitSuccess};
  if (first == "-T") {
    state.run.runMode = std::string(1, 'T');  // (a one-letter literal trips a false -Wrestrict in GCC 12)
    return {WindowMode::Demonstration, kExitSuccess};
  }
  if (const CommandOptionRow* row = FindFirstArgumentOption(first)) {
    SetConsoleTitle(title);
    if (row->id == CommandOption::Version) {
      state.print(VersionText(kProgramVersion));
    } else {
      for (const auto& line : HelpLines(programFileName, state.formats)) state.print(line);
    }
    return {WindowMode::None, kExitSuccess};
  }

  DriverFlags flags;
  std::string error = ParseArguments(state, args, flags);
  // With the picture or the facts on standard output, every other line goes to standard error.
  if (flags.toStdout || flags.info != InfoForm::None) state.print = [](std::string_view line) { WriteErrorLine(line); };
  if (error.empty() && state.run.inputGiven) error = RefusedCombination(flags);

  if (!error.empty()) {
    SetConsoleTitle(title);
    state.print("Error: " + error);
    if (flags.pause) WaitForKeyPress();
    return {WindowMode::None, kExitUsageError};
  }

  if (flags.thumbnailSize != 0 || !flags.thumbnailOut.empty()) {
    std::string thumbnailError;
    const int exitCode = RunThumbnail(flags, thumbnailError);
    if (!thumbnailError.empty()) state.print("Error: " + thumbnailError);
    return {WindowMode::None, exitCode};
  }

  if (!state.run.inputGiven) {
    state.windowInputs = ExistingFiles(flags.bare);
    state.convertWindowInputs = flags.convertInWindow && !state.windowInputs.empty();
    return {WindowMode::Main, kExitSuccess};
  }

  PipedInput piped;
  if (ReadsStandardInput(flags)) {
    piped = TakeStandardInput(state, flags);
    if (!piped.failure.empty()) {
      ReportProblem(state, piped.failure);
      return {WindowMode::None, kExitFailure};
    }
  }

  if (!flags.layer.empty() || flags.eachLayer) {
    if (const auto refused = PlanLayers(state, flags)) {
      if (!refused->line.empty()) state.print(refused->line);
      return {WindowMode::None, refused->exitCode};
    }
  }

  SetConsoleTitle(title);
  if (!flags.quiet) {
    state.print(title);
    state.print(kCopyrightLine);
    state.print(kMakerWebAddress);
    state.print("");
  }
  const bool converted = flags.info != InfoForm::None ? PrintFileFacts(state, flags)
                         : flags.batch                ? ValidateAndLaunchBatch(state, flags)
                                                      : ValidateAndLaunch(state, flags);
  if (flags.pause) {
    state.print("Press any key to exit.");
    WaitForKeyPress();
  }
  return {WindowMode::None, converted ? kExitSuccess : kExitFailure};
}

}  // namespace kestrel
