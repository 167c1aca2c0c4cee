// Output file dates.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/settings.h"

namespace kestrel {

// Sets the output file's modification time as FILE-TIMESTAMP asks: CURRENT
// leaves the time of writing, ORIGINAL copies the input's to the second,
// CUSTOM uses FILE-TIMESTAMP-CUSTOM read as local time. The access time is
// left alone. Best effort: returns false when a time was asked for and not
// set (the input or output is gone, or the date cannot be represented).
bool ApplyFileTimestamp(const Settings& settings, const std::string& inputPath, const std::string& outputPath);

// The instant of a date value (seconds since 1970 counted in local time), or
// nothing when the calendar cannot hold it. A wall-clock time that a clock
// change skips or repeats gets whichever instant the C library picks.
std::optional<std::int64_t> LocalDateToInstant(std::int64_t localSeconds);

}  // namespace kestrel
