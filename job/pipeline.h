// Load, transform and save one file.
#pragma once

#include "engine/image.h"
#include "model/app_state.h"

namespace kestrel {

// Converts the run state's current input path; true exactly when the output
// file was written. Fills the loaded depth, image size and output path.
bool ConvertCurrentFile(AppState& state);

}  // namespace kestrel
