// The command-line driver: decides how the program runs from its arguments.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "model/app_state.h"
#include "model/window_entry.h"

namespace kestrel {

// Process exit codes.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;       // a failed check, a failed conversion
inline constexpr int kExitUsageError = 2;    // a command-line error

struct DriverResult {
  WindowMode window = WindowMode::None;  // a window is to be opened instead of ending
  int exitCode = kExitSuccess;
};

// Whether the run takes the single-instance lock: a thumbnail run does not,
// since a file manager starts many at once, in sandboxes that may not reach
// the lock's place.
bool NeedsInstanceLock(const std::vector<std::string>& arguments);

// The argument loop: every option in order, stopping at the first error.
// Returns the error message, or "" when every argument was taken.
std::string ParseArguments(AppState& state, const ArgumentList& args, DriverFlags& flags);

// Runs the command line (arguments without the program name). Returns the
// window to open, or the exit code of a finished run.
DriverResult RunDriver(AppState& state, const std::vector<std::string>& arguments,
                       const std::string& programFileName);

}  // namespace kestrel
