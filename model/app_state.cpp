#include "model/app_state.h"

#include "platform/console.h"
#include "platform/text.h"

namespace kestrel {

void ReportFileProblem(const AppState& state, const std::string& path, const std::string& why) {
  ReportProblem(state, QuotedFileName(path) + ": " + why);
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
