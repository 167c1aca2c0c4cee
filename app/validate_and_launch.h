// The command line's conversion: checks the run and prints the debug report,
// runs the job on this thread and prints the summary.
#pragma once

#include "app/options.h"
#include "model/app_state.h"

namespace kestrel {

// Returns true when the run converted its file. Every failure has printed
// exactly one line (or the two empty-input lines) before returning false.
// With --stdout the picture is made in a private folder and copied to standard output.
bool ValidateAndLaunch(AppState& state, const DriverFlags& flags);

// The batch run of the flags' sources: the same lines with the real counts,
// each failed file named on standard error. Returns true when no file failed.
bool ValidateAndLaunchBatch(AppState& state, const DriverFlags& flags);

}  // namespace kestrel
