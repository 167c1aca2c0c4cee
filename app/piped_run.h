// The command line inside a pipeline: which combinations of the standard
// input and output, info and layer options make sense, and the document read
// from standard input.
#pragma once

#include <string>

#include "app/options.h"
#include "model/app_state.h"
#include "platform/piped_streams.h"

namespace kestrel {

// The name a document read from standard input goes by: %filename% is "stdin".
inline constexpr const char* kStandardInputLabel = "stdin.psd";

// Why these options cannot run together (a usage error), or "".
std::string RefusedCombination(const DriverFlags& flags);

// Whether an input is "-", standard input.
bool ReadsStandardInput(const DriverFlags& flags);

// Reads standard input and makes it the run's input under its label. The
// returned file must outlive the run; its failure says why there is none.
PipedInput TakeStandardInput(AppState& state, DriverFlags& flags);

}  // namespace kestrel
