// Profile files: INI-style settings named by --profile.
#pragma once

#include <string>

#include "settings/settings.h"

namespace kestrel {

// Applies the keys of the profile's "CLI" group to settings. On failure
// (empty name, a file that cannot be read) nothing is changed.
bool ReadProfile(Settings& settings, const std::string& fileName);

}  // namespace kestrel
