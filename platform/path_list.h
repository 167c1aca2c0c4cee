// Lists of paths given to a batch run: one path per line, or NUL-separated.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The paths of a list file ("-" reads standard input). With nulSeparated each
// path ends at a NUL byte (as "find -print0" writes them); otherwise at a line
// end, with a carriage return before it removed. Empty entries are skipped.
// Nothing when the list cannot be read.
std::optional<std::vector<std::string>> ReadPathList(const std::string& file, bool nulSeparated);

}  // namespace kestrel
