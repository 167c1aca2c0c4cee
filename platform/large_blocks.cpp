// Large blocks mapped so that they fault in cheaply.
//
// Images are nearly the only large allocations this program makes, most of
// them inside FreeImage. From the C library's allocator every 4 KB page of a
// fresh image costs a page fault, and on a virtual machine a fault is dear: a
// 4000x3000 bitmap spent more time faulting in than being decoded. Large
// blocks (HugePageBlockBytes() and more, 1 MB unless the process lowers it) are
// mapped here instead, aligned to 2 MB and marked for transparent huge pages,
// so such a block faults in a few dozen times. Blocks from kMediumBlock up (a
// small image, an output buffer), which are nearly always written whole, are
// mapped with all their pages at once, which costs about half of faulting them
// in one by one. A few freed blocks are kept for the next requests they fit:
// the compositor's effects and the steps take and free picture-sized planes one
// after another, and each fresh mapping costs the kernel clearing every page
// (measured: 38% of a styled composite). Smaller requests, and every aligned
// request, go to the C library as before. A request that the C library cannot serve either is
// reported to the process's allocation failure handler before null is returned
// (a confined decoder ends there, telling its parent why).
//
// These definitions replace malloc, calloc, realloc and free for the whole
// process, libraries included, as the C library allows (its own functions stay
// reachable under their __libc_ names). They are left out of sanitizer builds,
// which bring their own allocator.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/pixel_memory.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace {

constexpr std::size_t kHugePage = kestrel::kHugePageBytes;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kMediumBlock = std::size_t{128} << 10;
// The caller's memory starts this far into the mapping; the mapping's length is kept there.
constexpr std::size_t kHeader = 64;
// Live large blocks. An image pipeline holds a handful at once; when the table is
// full, further blocks come from the C library.
constexpr std::size_t kSlots = 256;

std::atomic<std::uintptr_t> g_blocks[kSlots];

struct Header {
  std::size_t mapped;    // length of the whole mapping
  std::size_t capacity;  // bytes the caller may use
};

// The C library's malloc_usable_size, which libraries call on any block, reads
// the size word just before it as that of one of its own mapped chunks: the
// size of the chunk with its 16-byte header, and the "mapped" bit.
constexpr std::size_t kChunkHeader = 16;
constexpr std::size_t kChunkIsMapped = 2;
static_assert(sizeof(Header) + sizeof(std::size_t) <= kHeader);

bool MayBeOurs(const void* block) { return (reinterpret_cast<std::uintptr_t>(block) & (kPage - 1)) == kHeader; }

// The registry slot holding block, or kSlots. Any pointer of ours is found; any
// other (even one that happens to share the alignment) is not.
std::size_t SlotOf(const void* block) {
  if (block == nullptr || !MayBeOurs(block)) return kSlots;
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (g_blocks[i].load(std::memory_order_acquire) == address) return i;
  }
  return kSlots;
}

Header* HeaderOf(void* block) { return reinterpret_cast<Header*>(static_cast<char*>(block) - kHeader); }

std::size_t RoundUp(std::size_t size, std::size_t unit) { return (size + unit - 1) / unit * unit; }

// Freed blocks kept for reuse, up to kestrel::KeptBlockBytes() in all.
// Lock-free, as an allocator must be where a process forks beside other
// threads: a slot holds a block, nothing, or kFilling while a block's
// capacity is written beside it.
constexpr std::size_t kKeptSlots = 16;
constexpr std::uintptr_t kFilling = 1;
std::atomic<std::uintptr_t> g_kept[kKeptSlots];
std::atomic<std::size_t> g_keptCapacity[kKeptSlots];
std::atomic<std::size_t> g_keptBytes{0};

// Not wasting a large block on a much smaller request: no more than a huge
// page, or a quarter of the request, is left over.
bool Fits(std::size_t capacity, std::size_t size) {
  return capacity >= size && capacity - size <= std::max(kHugePage, size / 4);
}

void Unmap(void* block) { ::munmap(static_cast<char*>(block) - kHeader, HeaderOf(block)->mapped); }

// Keeps a freed block when there is room, else gives it back to the system.
void KeepOrUnmap(void* block) {
  const std::size_t mapped = HeaderOf(block)->mapped;
  if (g_keptBytes.fetch_add(mapped, std::memory_order_relaxed) + mapped <= kestrel::KeptBlockBytes()) {
    for (std::size_t i = 0; i < kKeptSlots; ++i) {
      std::uintptr_t empty = 0;
      if (!g_kept[i].compare_exchange_strong(empty, kFilling, std::memory_order_acq_rel)) continue;
      g_keptCapacity[i].store(HeaderOf(block)->capacity, std::memory_order_relaxed);
      g_kept[i].store(reinterpret_cast<std::uintptr_t>(block), std::memory_order_release);
      return;
    }
  }
  g_keptBytes.fetch_sub(mapped, std::memory_order_relaxed);
  Unmap(block);
}

// A kept block that fits size bytes, or null; its contents are what its last user left.
void* TakeKept(std::size_t size) {
  for (std::size_t i = 0; i < kKeptSlots; ++i) {
    std::uintptr_t block = g_kept[i].load(std::memory_order_acquire);
    if (block <= kFilling || !Fits(g_keptCapacity[i].load(std::memory_order_relaxed), size)) continue;
    if (!g_kept[i].compare_exchange_strong(block, 0, std::memory_order_acq_rel)) continue;
    void* taken = reinterpret_cast<void*>(block);
    g_keptBytes.fetch_sub(HeaderOf(taken)->mapped, std::memory_order_relaxed);
    // The capacity read beside the slot may have been another block's.
    if (Fits(HeaderOf(taken)->capacity, size)) return taken;
    KeepOrUnmap(taken);
  }
  return nullptr;
}

// Gives every kept block back to the system (before a mapping is refused for want of room).
bool DropKept() {
  bool dropped = false;
  for (auto& slot : g_kept) {
    std::uintptr_t block = slot.load(std::memory_order_acquire);
    if (block <= kFilling || !slot.compare_exchange_strong(block, 0, std::memory_order_acq_rel)) continue;
    g_keptBytes.fetch_sub(HeaderOf(reinterpret_cast<void*>(block))->mapped, std::memory_order_relaxed);
    Unmap(reinterpret_cast<void*>(block));
    dropped = true;
  }
  return dropped;
}

// Registers a block as live; false when the table is full.
bool Register(std::uintptr_t block) {
  for (auto& slot : g_blocks) {
    std::uintptr_t empty = 0;
    if (slot.compare_exchange_strong(empty, block, std::memory_order_acq_rel)) return true;
  }
  return false;
}

// A block of at least size bytes (kMediumBlock or more), zero-filled when
// `zeroed`, or null (then the C library serves the request).
void* MapLarge(std::size_t size, bool zeroed) {
  if (size > (std::size_t{1} << 46)) return nullptr;
  if (void* kept = TakeKept(size)) {
    if (Register(reinterpret_cast<std::uintptr_t>(kept))) {
      if (zeroed) std::memset(kept, 0, size);
      return kept;
    }
    KeepOrUnmap(kept);
    return nullptr;
  }
  const bool huge = size >= kestrel::HugePageBlockBytes();
  const std::size_t mapped = RoundUp(size + kHeader, huge ? kHugePage : kPage);
  const auto map = [&] { return huge ? kestrel::MapHugePageAligned(mapped) : kestrel::MapPopulated(mapped); };
  void* base = map();
  if (base == nullptr && DropKept()) base = map();
  if (base == nullptr) return nullptr;

  auto* header = static_cast<Header*>(base);
  header->mapped = mapped;
  header->capacity = mapped - kHeader;
  const std::uintptr_t block = reinterpret_cast<std::uintptr_t>(base) + kHeader;
  reinterpret_cast<std::size_t*>(block)[-1] = (header->capacity + kChunkHeader) | kChunkIsMapped;
  if (Register(block)) return reinterpret_cast<void*>(block);
  ::munmap(base, mapped);
  return nullptr;
}

// What the C library gives, asked again once the kept blocks are given back;
// when it has nothing either, the process's allocation failure handler hears
// of it first (platform/pixel_memory.h).
template <typename Ask>
void* FromTheLibrary(std::size_t size, Ask ask) {
  void* block = ask();
  if (block == nullptr && size > 0 && DropKept()) block = ask();
  if (block == nullptr && size > 0) kestrel::AllocationFailed();
  return block;
}

void UnmapLarge(std::size_t slot, void* block) {
  g_blocks[slot].store(0, std::memory_order_release);
  KeepOrUnmap(block);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
  if (size >= kMediumBlock) {
    if (void* block = MapLarge(size, false)) return block;
  }
  return FromTheLibrary(size, [&] { return __libc_malloc(size); });
}

void* calloc(std::size_t count, std::size_t size) {
  std::size_t total = 0;
  if (__builtin_mul_overflow(count, size, &total)) {
    errno = ENOMEM;
    return nullptr;
  }
  if (total >= kMediumBlock) {
    if (void* block = MapLarge(total, true)) return block;
  }
  return FromTheLibrary(total, [&] { return __libc_calloc(count, size); });
}

void free(void* block) {
  const std::size_t slot = SlotOf(block);
  if (slot < kSlots) {
    UnmapLarge(slot, block);
  } else {
    __libc_free(block);
  }
}

void* realloc(void* block, std::size_t size) {
  const std::size_t slot = SlotOf(block);
  if (slot == kSlots) return FromTheLibrary(size, [&] { return __libc_realloc(block, size); });
  if (size == 0) {
    UnmapLarge(slot, block);
    return nullptr;
  }
  const std::size_t capacity = HeaderOf(block)->capacity;
  if (size <= capacity && size >= kMediumBlock) return block;
  void* moved = malloc(size);
  if (moved == nullptr) return nullptr;  // the old block stays valid, as realloc promises
  std::memcpy(moved, block, size < capacity ? size : capacity);
  UnmapLarge(slot, block);
  return moved;
}

}  // extern "C"
