// Checks the settings of a command-line run, prints the debug report, runs
// the conversion job on a worker thread and prints the summary.
#pragma once

#include <string>

#include "model/app_state.h"

namespace kestrel {

// Returns true when the run converted its file. Every failure has printed
// exactly one line (or the two empty-input lines) before returning false.
bool ValidateAndLaunch(AppState& state, bool quiet);

// The output format code, depth, save flags and automatic-depth flag of the
// run's conversion, derived from the settings into the run state.
void DeriveSaveParameters(AppState& state);

// The value of a setting as the debug report prints it: numbers in decimal,
// flags as 0 or 1, keyword numbers by their keyword, gamma with two decimals.
std::string ReportValue(const AppState& state, SettingId id);

}  // namespace kestrel
