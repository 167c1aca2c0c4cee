// Memory for whole images, mapped straight from the system. Large blocks go on
// transparent huge pages where the system offers them: on a virtual machine a
// page fault is dear, and a 2 MB page faults in once where 4 KB pages fault 512
// times.
#pragma once

#include <cstddef>
#include <memory>

namespace kestrel {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Memory for an image about to be filled, given all its pages in one call
// rather than one fault at a time; unmapped when the last owner lets go, null
// when out of memory.
std::shared_ptr<void> MapPixelMemory(std::size_t size);

}  // namespace kestrel
