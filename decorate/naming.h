// Output file naming.
#pragma once

#include <string>

#include "settings/app_state.h"

namespace kestrel {

// The full output path of the current input: the output folder, the relative
// subfolder while KEEP-SUBFOLDERS is set, and the expanded file-name mask.
std::string BuildOutputPath(const AppState& state);

// The text with its name tokens replaced, the letter case of the rest kept
// (the text watermark's tokens). Reads the run state's current values.
std::string ExpandWatermarkText(const AppState& state, const std::string& text);

// The file name without folder and without its last extension.
std::string FileBaseName(const std::string& path);

}  // namespace kestrel
