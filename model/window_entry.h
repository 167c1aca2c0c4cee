// The seam between the program and its window module: which window to open
// and the one function the module exports for it.
#pragma once

#include "model/app_state.h"

namespace kestrel {

enum class WindowMode { None, Main, Maintenance, Demonstration };

inline constexpr const char* kWindowEntryName = "kestrel_window_run";
using WindowEntry = int (*)(AppState* state, int mode, const char* argument);

}  // namespace kestrel
