// How much memory this process may still take: what the machine has available
// (MemAvailable), or less where the process's control group sets a lower limit.
#pragma once

#include <cstdint>

namespace kestrel {

// The bytes available now (read at most a tenth of a second ago); 0 when
// neither figure can be read.
std::uint64_t AvailableMemoryBytes();

}  // namespace kestrel
