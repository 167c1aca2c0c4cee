// Output file naming: the file-name mask and the name tokens it shares with
// the text watermark.
#pragma once

#include <string>

#include "model/app_state.h"

namespace kestrel {

// The full output path of the current input: the output folder, the relative
// subfolder while KEEP-SUBFOLDERS is set, and the expanded file-name mask.
// A "/" in the expanded name reaches into a subfolder of the output folder,
// which must exist already. Empty when the name cannot be used (a ".."
// component would leave the output folder, or it holds a NUL character), so
// the save fails and the file counts as not converted.
std::string BuildOutputPath(const AppState& state);

// FILENAME-MASK lowered as a whole (an empty mask is "%filename%.%ext%") with
// its name tokens replaced, in token order; no folder.
std::string ExpandFileNameMask(const AppState& state);

// The text with every occurrence of one name token (letters in any case)
// replaced by its current value; a text that is no name token changes nothing.
std::string ReplaceNameToken(const AppState& state, const std::string& text, const std::string& token);

// The text with its name tokens replaced, the letter case of the rest kept
// (the text watermark's tokens). Reads the run state's current values.
std::string ExpandWatermarkText(const AppState& state, const std::string& text);

// The file name without folder and without its last extension. A "." that
// begins the name, or that a blank or separator follows, starts no extension.
std::string FileBaseName(const std::string& path);

}  // namespace kestrel
