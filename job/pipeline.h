// Load, transform and save one file.
#pragma once

#include "engine/bitmap/image.h"
#include "model/app_state.h"
#include "platform/outcome.h"

namespace kestrel {

// Converts the run state's current input path; succeeds exactly when the
// output file was written, and otherwise says why not. Fills the loaded
// depth, image size and output path.
Outcome ConvertCurrentFile(AppState& state);

}  // namespace kestrel
