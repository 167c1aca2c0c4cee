// Load, transform and save one file.
#pragma once

#include "engine/image.h"
#include "settings/app_state.h"

namespace kestrel {

// Converts the run state's current input path; true exactly when the output
// file was written. Fills the loaded depth, image size and output path.
bool ConvertCurrentFile(AppState& state);

// Greyscale images of any sample type become standard 8-bit greyscale.
ImagePtr NormaliseGreyscale(ImagePtr image);
// Images of more than 32 bits per pixel are tone-mapped to 24 bits.
ImagePtr ToneMapWideImage(ImagePtr image);

}  // namespace kestrel
