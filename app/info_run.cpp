#include "app/info_run.h"

#include "engine/decode/confined_psd.h"
#include "output/facts_report.h"
#include "platform/console.h"

namespace kestrel {

bool PrintFileFacts(AppState& state, const DriverFlags& flags) {
  std::vector<std::string> paths;
  if (flags.batch) {
    auto collected = CollectBatchItems(flags.sources, state.formats.acceptedInputExtensions, true);
    if (const auto* refusal = std::get_if<std::string>(&collected)) {
      state.print(*refusal);
      return false;
    }
    for (const BatchItem& item : std::get<std::vector<BatchItem>>(collected)) paths.push_back(item.path);
  } else {
    paths.push_back(state.run.input);
  }

  std::vector<NamedFacts> files;
  bool allRead = true;
  for (const std::string& path : paths) {
    const bool piped = !state.run.inputLabel.empty() && path == state.run.input;
    NamedFacts file{piped ? "stdin" : path, ReadPsdFactsSandboxed(path)};
    allRead = allRead && file.result.facts.has_value();
    if (flags.info == InfoForm::Text) {
      for (const std::string& line : FactsAsText(file)) WriteConsoleLine(line);
    }
    files.push_back(std::move(file));
  }
  if (flags.info == InfoForm::Json) WriteConsoleLine(FactsAsJson(files));
  return allRead;
}

}  // namespace kestrel
