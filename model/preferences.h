// The windowed interface's preferences file, "config.ini".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/formats.h"
#include "model/settings.h"

namespace kestrel {

// The version number written as "CFG"; older files are brought up to date when read.
inline constexpr int kPreferencesVersion = 19;

// config.ini in <vendor>/<shortName> below $XDG_CONFIG_HOME (~/.config when
// unset). Creates the missing folders on the way.
std::string PreferencesPath(std::string_view vendor, std::string_view shortName);

// Fills settings from the file. A file that cannot be read gives the
// defaults with KEEP-ASPECT-RATIO on; a missing key gives its default; an
// older file ("CFG" below 19) is migrated. `now` is the default of dates.
void LoadPreferences(Settings& settings, const FormatRegistry& formats, const std::string& path,
                     std::int64_t now);

// The file's text as SavePreferences writes it.
std::string PreferencesText(const Settings& settings);

// Writes the file under a temporary name and renames it over the old one, so
// a failed save leaves the previous file as it was. False when it failed.
bool SavePreferences(const Settings& settings, const std::string& path);

}  // namespace kestrel
