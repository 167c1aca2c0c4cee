#include "platform/pixel_memory.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>

namespace kestrel {
namespace {

#ifndef MADV_POPULATE_WRITE
constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it and fault page by page
#endif

std::atomic<std::size_t> g_hugePageBlockBytes{std::size_t{1} << 20};
std::atomic<std::size_t> g_keptBlockBytes{std::size_t{64} << 20};
std::atomic<AllocationFailureHandler> g_allocationFailure{nullptr};

// The kept mapping of the last small image; what lies idle stays small.
constexpr std::size_t kLargestKept = std::size_t{4} << 20;
struct KeptMapping {
  std::mutex lock;
  void* block = nullptr;
  std::size_t size = 0;
};
KeptMapping g_kept;

// The kept mapping when it holds `size` bytes and is not twice as large.
void* TakeKept(std::size_t size, std::size_t& mapped) {
  const std::lock_guard hold(g_kept.lock);
  if (g_kept.block == nullptr || g_kept.size < size || g_kept.size / 2 > size) return nullptr;
  mapped = g_kept.size;
  return std::exchange(g_kept.block, nullptr);
}

void Release(void* block, std::size_t size) {
  if (size <= kLargestKept) {
    const std::lock_guard hold(g_kept.lock);
    std::swap(block, g_kept.block);
    std::swap(size, g_kept.size);
  }
  if (block != nullptr) ::munmap(block, size);
}

}  // namespace

std::size_t HugePageBlockBytes() { return g_hugePageBlockBytes.load(std::memory_order_relaxed); }

void SetHugePageBlockBytes(std::size_t bytes) { g_hugePageBlockBytes.store(bytes, std::memory_order_relaxed); }

std::size_t KeptBlockBytes() { return g_keptBlockBytes.load(std::memory_order_relaxed); }

void SetKeptBlockBytes(std::size_t bytes) { g_keptBlockBytes.store(bytes, std::memory_order_relaxed); }

void SetAllocationFailureHandler(AllocationFailureHandler handler) { g_allocationFailure.store(handler); }

void AllocationFailed() {
  if (const AllocationFailureHandler handler = g_allocationFailure.load()) handler();
}

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

void* MapPopulated(std::size_t size) {
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

std::shared_ptr<void> MapPixelMemory(std::size_t size) {
  // Whole pages, so that the unused end of an aligned mapping can be given back.
  constexpr std::size_t kPage = 4096;
  size = ((size == 0 ? 1 : size) + kPage - 1) / kPage * kPage;
  void* block = TakeKept(size, size);
  if (block == nullptr) {
    if (size >= kHugePageBytes) {
      block = MapHugePageAligned(size);
      // Faulted in now, a huge page at a time, before the rows are copied in.
      if (block != nullptr) ::madvise(block, size, MADV_POPULATE_WRITE);
    } else {
      block = MapPopulated(size);
    }
    if (block == nullptr) return nullptr;
    // A process forked meanwhile (a confined decoder) has no use for the image:
    // shared with it, every page written here would first be copied.
    ::madvise(block, size, MADV_DONTFORK);
  }
  return std::shared_ptr<void>(block, [size](void* at) { Release(at, size); });
}

}  // namespace kestrel
