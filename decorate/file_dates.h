// Output file dates.
#pragma once

#include <string>

#include "settings/settings.h"

namespace kestrel {

// Sets the output file's modification time as FILE-TIMESTAMP asks: CURRENT
// leaves the time of writing, ORIGINAL copies the input's, CUSTOM uses
// FILE-TIMESTAMP-CUSTOM. Best effort: returns false when the time was not set.
bool ApplyFileTimestamp(const Settings& settings, const std::string& inputPath, const std::string& outputPath);

}  // namespace kestrel
