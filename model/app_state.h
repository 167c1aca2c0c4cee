// The records of one program run, passed by reference to whatever needs them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fonts.h"
#include "model/formats.h"
#include "model/job_records.h"
#include "model/messages.h"
#include "model/settings.h"

namespace kestrel {

struct AppState {
  FormatRegistry formats = MakeEditionRegistry();
  Settings settings;
  RunState run;
  MessageCatalogue messages;
  InputList inputs;
  // Files named by bare command-line arguments (a file manager's "Open
  // with"): the window opens with them as its inputs.
  std::vector<std::string> windowInputs;
  // The window converts those inputs as soon as it opens (a file manager's
  // "Convert to BMP" action), showing its progress as for any conversion.
  bool convertWindowInputs = false;
  JobStatus status;
  std::shared_ptr<WatermarkFont> watermarkFont;
  // Where console lines go: standard output, or a test's collector.
  std::function<void(std::string_view)> print;
  // Where the job says why a file failed: standard error when unset, or a
  // test's collector (or a window that shows it).
  std::function<void(std::string_view)> printError;
};

// Says a line on printError (standard error when unset): "kestrel: WHAT".
void ReportProblem(const AppState& state, const std::string& what);
// The same of a file: "kestrel: PATH: WHY".
void ReportFileProblem(const AppState& state, const std::string& path, const std::string& why);

}  // namespace kestrel
