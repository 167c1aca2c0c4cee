// Memory for a whole image that is about to be filled: mapped, and given its
// pages all at once rather than one page fault at a time as it is written
// (page faults are dear on virtual machines). Large blocks go on transparent
// huge pages where the system offers them.
#pragma once

#include <cstddef>
#include <memory>

namespace kestrel {

// size bytes, unmapped when the last owner lets go; null when out of memory.
std::shared_ptr<void> MapPixelMemory(std::size_t size);

}  // namespace kestrel
