// Memory for whole images, mapped straight from the system. Large blocks go on
// transparent huge pages where the system offers them: on a virtual machine a
// page fault is dear, and a 2 MB page faults in once where 4 KB pages fault 512
// times.
#pragma once

#include <cstddef>
#include <memory>

namespace kestrel {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// size bytes of fresh zeroed memory starting on a 2 MB boundary and marked for
// huge pages; null when it cannot be mapped. Released with munmap(block, size).
// Allocates nothing else, so an allocator may use it.
void* MapHugePageAligned(std::size_t size);

// size bytes of fresh zeroed memory with all its pages given at once; null when
// it cannot be mapped. Released with munmap(block, size). Allocates nothing
// else, so an allocator may use it.
void* MapPopulated(std::size_t size);

// Blocks of at least this many bytes go on huge pages (where the block
// allocator is linked in). A process that lives only to decode one image lowers
// it: its memory is dropped moments later, so spending a huge page on a
// smaller image costs nothing lasting and saves most of its page faults.
std::size_t HugePageBlockBytes();
void SetHugePageBlockBytes(std::size_t bytes);

// Freed large blocks the block allocator may keep for reuse, in bytes: little
// by default, since what lies idle in a long-lived process is lost to all
// else. A process that lives only to decode one image raises it: its planes
// come and go by the dozen, and reused pages need no clearing by the system.
std::size_t KeptBlockBytes();
void SetKeptBlockBytes(std::size_t bytes);

// What the block allocator does when neither it nor the C library can give
// the memory asked for: by default nothing more (the caller gets null). A
// confined child sets a handler that ends it at once (platform/sandbox.h), so
// that its parent learns that it ran out of memory rather than how it failed
// afterwards.
using AllocationFailureHandler = void (*)();
void SetAllocationFailureHandler(AllocationFailureHandler handler);
// Runs the handler, if one is set.
void AllocationFailed();

// Memory for an image about to be filled, given all its pages in one call
// rather than one fault at a time; null when out of memory. Not zeroed: the
// last small image's memory, once its last owner lets go, is kept for the
// next image of about its size, so that converting file after file of one
// size maps (and has the system zero) its pages once.
std::shared_ptr<void> MapPixelMemory(std::size_t size);

}  // namespace kestrel
