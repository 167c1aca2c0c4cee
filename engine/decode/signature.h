// Names the format of a file from its first bytes, for the debug trace.
#pragma once

#include <string>

namespace kestrel {

inline constexpr const char* kUnrecognizedSignature = "[ERROR] UNRECOGNIZED";

// The name of the file's format, or "[ERROR] UNRECOGNIZED" for an empty,
// missing or unknown file.
std::string DetectFileSignature(const std::string& path);

}  // namespace kestrel
