// The help text of the command line.
#pragma once

#include <string>
#include <vector>

#include "model/app_state.h"

namespace kestrel {

// The help lines for a program file name, each example showing one of the
// edition's source formats picked at random.
std::vector<std::string> HelpLines(const std::string& programFileName, const FormatRegistry& formats);

}  // namespace kestrel
