#include "model/app_state.h"

#include "platform/console.h"

namespace kestrel {

void ReportFileProblem(const AppState& state, const std::string& path, const std::string& why) {
  const std::string line = "kestrel: " + path + ": " + why;
  if (state.printError) {
    state.printError(line);
  } else {
    WriteErrorLine(line);
  }
}

}  // namespace kestrel
