#include "model/app_state.h"

#include "platform/console.h"
#include "platform/text.h"

namespace kestrel {

void ReportFileProblem(const AppState& state, const std::string& path, const std::string& why) {
  // A piped input is named by its label, not by the path of its unnamed file.
  const bool piped = !state.run.inputLabel.empty() && path == state.run.currentInputPath;
  ReportProblem(state, (piped ? state.run.inputLabel : QuotedFileName(path)) + ": " + why);
}

void ReportProblem(const AppState& state, const std::string& what) {
  const std::string line = "kestrel: " + what;
  if (state.printError) {
    state.printError(line);
  } else {
    WriteErrorLine(line);
  }
}

}  // namespace kestrel
