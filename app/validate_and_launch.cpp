#include "app/validate_and_launch.h"

#include "job/job.h"
#include "job/run_check.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {

bool ValidateAndLaunch(AppState& state, bool quiet) {
  auto text = [&](std::string_view group, std::string_view key) { return CatalogueText(state.messages, group, key); };
  auto unlessQuiet = [&](const std::string& line) {
    if (!quiet) state.print(line);
  };
  unlessQuiet(text("General", "Preparing"));

  const bool debug = state.run.runMode == "DEBUG";
  const CheckedRun checked = CheckRun(state, Face::CommandLine, debug ? state.print : ReportSink());
  if (checked.refusal) {
    state.print(checked.refusal->line);
    return false;
  }
  ApplyCheckedRun(state, checked);

  unlessQuiet(text("General", "Importing"));
  const std::string extension = LowerCase(ExtensionOf(state.run.currentInputPath));
  const bool listFile = extension == "txt" || extension == "lst";
  const int total = !listFile && AddInputFile(state, state.run.currentInputPath) ? 1 : 0;
  unlessQuiet(FormatMessage(text("Msg", "Import complete"), std::to_string(total)));
  if (total == 0) {
    state.print(text("Msg", "Conversion is not complete"));
    state.print(text("Msg", "Empty input files"));
    return false;
  }

  unlessQuiet(text("General", "Converting"));
  ResetJobStatus(state.status);
  RunConversionJob(state);
  const int converted = ConvertedFiles(state.status);
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
