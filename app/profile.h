// Profile files: INI-style settings named by --profile.
#pragma once

#include <string>

#include "model/settings.h"

namespace kestrel {

// Applies the keys of the profile's first "CLI" group (any letter case) to
// settings in file order, each key read like the option of the same name.
// Fails, changing nothing, for an empty name or a file that cannot be read;
// any content is accepted.
bool ReadProfile(Settings& settings, const std::string& fileName);

}  // namespace kestrel
