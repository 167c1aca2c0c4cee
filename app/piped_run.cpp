#include "app/piped_run.h"

#include <algorithm>

namespace kestrel {

bool ReadsStandardInput(const DriverFlags& flags) {
  return std::any_of(flags.sources.begin(), flags.sources.end(), [](const BatchSource& source) {
    return source.kind == BatchSource::Kind::File && source.value == "-";
  });
}

std::string RefusedCombination(const DriverFlags& flags) {
  const bool severalInputs = flags.batch || flags.sources.size() > 1;
  if (ReadsStandardInput(flags) && severalInputs) return "-i - reads standard input as the only input";
  if (flags.toStdout) {
    if (flags.info != InfoForm::None) return "--info converts nothing, so --stdout has no picture to write";
    if (severalInputs) return "--stdout writes one picture: give it one input";
    if (flags.eachLayer) return "--stdout writes one picture: --each-layer writes one for each layer";
    if (OutputIsTerminal()) return "--stdout does not write a picture to a terminal: send it into a pipe or a file";
  }
  const bool layers = !flags.layer.empty() || flags.eachLayer;
  if (!flags.layer.empty() && flags.eachLayer) return "--layer and --each-layer cannot be used together";
  if (flags.layerCrop && !layers) return "--layer-crop crops the layer that --layer or --each-layer draws";
  if (layers && severalInputs) return "--layer and --each-layer draw the layers of one input";
  if (layers && flags.info != InfoForm::None) return "--info converts nothing, so it draws no layer";
  return {};
}

PipedInput TakeStandardInput(AppState& state, DriverFlags& flags) {
  PipedInput piped = ReadStandardInput();
  if (!piped.failure.empty()) return piped;
  state.run.input = piped.path;
  state.run.inputLabel = kStandardInputLabel;
  for (BatchSource& source : flags.sources) {
    if (source.kind == BatchSource::Kind::File && source.value == "-") source.value = piped.path;
  }
  return piped;
}

}  // namespace kestrel
