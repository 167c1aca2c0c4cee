// Opening a window from the command-line program: the window lives in a
// module of its own (it brings the toolkit), loaded only when a window opens.
#pragma once

#include <string>

#include "app/driver.h"
#include "model/app_state.h"

namespace kestrel {

// Whether a window can be shown: a display server that accepts a connection
// (X11 through DISPLAY, Wayland through WAYLAND_DISPLAY), or a toolkit
// platform chosen through QT_QPA_PLATFORM that needs none (offscreen).
bool DisplayUsable();

// The module beside the executable (build tree) or in ../lib/kestrel; empty
// when neither exists.
std::string FindWindowModule();

// Loads the module and runs the window; refuses with one line on standard
// error and exit code 1 when there is no display or no module.
int OpenWindow(AppState& state, WindowMode mode, const std::string& argument);

}  // namespace kestrel
