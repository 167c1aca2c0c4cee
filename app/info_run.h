// --info: the facts of each input, printed instead of converting it.
#pragma once

#include "app/options.h"
#include "model/app_state.h"

namespace kestrel {

// Prints the facts of every input on standard output, as text or JSON.
// True when every file could be read; a damaged one is still printed (its
// error in place of its facts).
bool PrintFileFacts(AppState& state, const DriverFlags& flags);

}  // namespace kestrel
