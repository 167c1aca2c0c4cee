#include "platform/pixel_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace kestrel {
namespace {

#ifndef MADV_POPULATE_WRITE
constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it and fault page by page
#endif

constexpr std::size_t kPageBytes = 4096;

// size bytes (a whole number of pages) of fresh zeroed memory starting on a 2
// MB boundary and marked for huge pages; null when it cannot be mapped.
void* MapHugePageAligned(std::size_t size) {
  const std::size_t span = size + kHugePageBytes;  // room to start on a 2 MB boundary
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto* start = static_cast<char*>(raw);
  const auto address = reinterpret_cast<std::uintptr_t>(start);
  char* block = start + (kHugePageBytes - address % kHugePageBytes) % kHugePageBytes;
  if (block > start) ::munmap(start, static_cast<std::size_t>(block - start));
  char* end = start + span;
  if (end > block + size) ::munmap(block + size, static_cast<std::size_t>(end - (block + size)));
  ::madvise(block, size, MADV_HUGEPAGE);
  return block;
}

}  // namespace

std::shared_ptr<void> MapPixelMemory(std::size_t size) {
  // Whole pages, so that the unused end of the aligned mapping can be given back.
  size = (size + kPageBytes - 1) / kPageBytes * kPageBytes;
  if (size == 0) size = kPageBytes;
  void* block = nullptr;
  if (size >= kHugePageBytes) {
    block = MapHugePageAligned(size);
    // Faulted in now, a huge page at a time, before the rows are copied in.
    if (block != nullptr) ::madvise(block, size, MADV_POPULATE_WRITE);
  } else {
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (mapped != MAP_FAILED) block = mapped;
  }
  if (block == nullptr) return nullptr;
  return std::shared_ptr<void>(block, [size](void* at) { ::munmap(at, size); });
}

}  // namespace kestrel
