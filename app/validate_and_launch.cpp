#include "app/validate_and_launch.h"

#include <optional>

#include "app/layer_run.h"
#include "job/batch.h"
#include "platform/piped_streams.h"
#include "job/job.h"
#include "platform/console.h"
#include "platform/worker_process.h"
#include "job/run_check.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Checks the run (the debug report goes with it) and takes it, or prints the refusal.
bool CheckAndApply(AppState& state) {
  const bool debug = state.run.runMode == "DEBUG";
  const CheckedRun checked = CheckRun(state, Face::CommandLine, debug ? state.print : ReportSink());
  if (checked.refusal) {
    state.print(checked.refusal->line);
    return false;
  }
  ApplyCheckedRun(state, checked);
  return true;
}

}  // namespace

bool ValidateAndLaunch(AppState& state, const DriverFlags& flags) {
  const bool quiet = flags.quiet;
  auto text = [&](std::string_view group, std::string_view key) { return CatalogueText(state.messages, group, key); };
  auto unlessQuiet = [&](const std::string& line) {
    if (!quiet) state.print(line);
  };
  unlessQuiet(text("General", "Preparing"));

  // The picture for standard output is saved where nothing else can see it, then copied.
  std::optional<PrivateFolder> holding;
  if (flags.toStdout) {
    holding.emplace();
    if (holding->Path().empty()) {
      ReportProblem(state, "cannot make a temporary folder for the picture");
      return false;
    }
    state.run.output = holding->Path();
  }

  if (!CheckAndApply(state)) return false;

  unlessQuiet(text("General", "Importing"));
  const std::string& named = state.run.inputLabel.empty() ? state.run.currentInputPath : state.run.inputLabel;
  const std::string extension = LowerCase(ExtensionOf(named));
  const bool listFile = extension == "txt" || extension == "lst";
  const int total = !listFile && AddInputFile(state, state.run.currentInputPath) ? 1 : 0;
  unlessQuiet(FormatMessage(text("Msg", "Import complete"), std::to_string(total)));
  if (total == 0) {
    state.print(text("Msg", "Conversion is not complete"));
    state.print(text("Msg", "Empty input files"));
    return false;
  }

  unlessQuiet(text("General", "Converting"));
  int converted = 0;
  if (flags.picks.empty()) {
    ResetJobStatus(state.status);
    RunConversionJob(state);
    converted = ConvertedFiles(state.status);
  } else {
    // Each layer drawn alone makes an output of its own.
    for (const LayerPick& pick : flags.picks) {
      UseLayerPick(state.run, pick, flags.layerCrop);
      ResetJobStatus(state.status);
      RunConversionJob(state);
      converted += ConvertedFiles(state.status);
    }
  }
  const int outputs = flags.picks.empty() ? total : static_cast<int>(flags.picks.size());
  state.watermarkFont.reset();
  if (converted == 0) {
    state.print(text("Msg", "Conversion is not complete"));
    return false;
  }
  if (flags.toStdout) {
    if (Outcome copied = CopyFileToStandardOutput(state.run.outputPath); !copied) {
      ReportProblem(state, copied.failure);
      return false;
    }
  }
  unlessQuiet(text("Msg", "Conversion complete"));
  unlessQuiet(FormatMessage(text("Msg", "Files converted"), std::to_string(converted), std::to_string(outputs)));
  return converted == outputs;
}

bool ValidateAndLaunchBatch(AppState& state, const DriverFlags& flags) {
  auto text = [&](std::string_view group, std::string_view key) { return CatalogueText(state.messages, group, key); };
  auto unlessQuiet = [&](const std::string& line) {
    if (!flags.quiet) state.print(line);
  };
  unlessQuiet(text("General", "Preparing"));

  auto collected = CollectBatchItems(flags.sources, state.formats.acceptedInputExtensions, !state.run.output.empty());
  if (const auto* refusal = std::get_if<std::string>(&collected)) {
    state.print(*refusal);
    return false;
  }
  const auto& items = std::get<std::vector<BatchItem>>(collected);
  const int total = static_cast<int>(items.size());
  if (total == 0) {
    // Nothing to check the settings against: the same lines as an empty import.
    unlessQuiet(text("General", "Importing"));
    unlessQuiet(FormatMessage(text("Msg", "Import complete"), "0"));
    state.print(text("Msg", "Conversion is not complete"));
    state.print(text("Msg", "Empty input files"));
    return false;
  }
  // The check sees the batch through the input list, as the window's does.
  state.run.input.clear();
  state.inputs.clear();
  for (const BatchItem& item : items) state.inputs[item.path] = InputEntry{1, item.subfolder};

  if (!CheckAndApply(state)) return false;

  unlessQuiet(text("General", "Importing"));
  unlessQuiet(FormatMessage(text("Msg", "Import complete"), std::to_string(total)));

  unlessQuiet(text("General", "Converting"));
  BatchOptions options;
  options.jobs = flags.jobs > 0 ? flags.jobs : ProcessorCount();
  options.update = flags.update;
  options.progress = !flags.quiet && ErrorIsTerminal();
  const BatchSummary summary = RunBatch(state, items, options);
  state.watermarkFont.reset();
  if (summary.converted == 0 && summary.skipped == 0) {
    state.print(text("Msg", "Conversion is not complete"));
    return false;
  }
  unlessQuiet(text("Msg", "Conversion complete"));
  unlessQuiet(FormatMessage(text("Msg", "Files converted"), std::to_string(summary.converted), std::to_string(total)));
  if (summary.skipped > 0) unlessQuiet("Files skipped (up to date): " + std::to_string(summary.skipped));
  return summary.failed == 0;
}

}  // namespace kestrel
