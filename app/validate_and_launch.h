// The command line's conversion: checks the run and prints the debug report,
// runs the job on this thread and prints the summary.
#pragma once

#include "model/app_state.h"

namespace kestrel {

// Returns true when the run converted its file. Every failure has printed
// exactly one line (or the two empty-input lines) before returning false.
bool ValidateAndLaunch(AppState& state, bool quiet);

}  // namespace kestrel
