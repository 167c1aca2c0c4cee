// How much memory this process may still take: what the machine has available
// (MemAvailable), or less where the process's control group sets a lower limit.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The bytes available now (read at most a tenth of a second ago); 0 when
// neither figure can be read.
std::uint64_t AvailableMemoryBytes();

// "80 KB", "256 MB", "1.5 GB", "4 GB".
std::string MemorySizeText(std::uint64_t bytes);

}  // namespace kestrel
