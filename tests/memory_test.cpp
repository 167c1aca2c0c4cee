// The C allocation functions as the executables link them: mimalloc, set for
// huge pages by platform/allocator_settings.cpp, in place of the C library's
// malloc (in sanitizer builds the sanitizer's own comes first). What any
// correct malloc promises, across mimalloc's kinds of block (small pages up to
// 128 KB, large ones up to 16 MB, then a segment of its own), and the settings
// the program relies on.
#include <gtest/gtest.h>
#include <malloc.h>
#include <mimalloc.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/pixel_memory.h"
#include "platform/sandbox.h"
#include "platform/sanitizer.h"

namespace kestrel {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

void Fill(void* block, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(block);
  for (std::size_t i = 0; i < size; i += 4093) bytes[i] = static_cast<unsigned char>(i / 4093 + 1);
  bytes[size - 1] = 0x5A;
}

bool Holds(const void* block, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (std::size_t i = 0; i < size; i += 4093) {
    if (i != size - 1 && bytes[i] != static_cast<unsigned char>(i / 4093 + 1)) return false;
  }
  return bytes[size - 1] == 0x5A;
}

struct Resize {
  std::size_t from;
  std::size_t to;
};

class Reallocation : public ::testing::TestWithParam<Resize> {};

TEST_P(Reallocation, KeepsTheContentsItHadRoomFor) {
  const Resize resize = GetParam();
  void* block = std::malloc(resize.from);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
  Fill(block, resize.from);
  void* moved = std::realloc(block, resize.to);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(moved) % 16, 0u);
  const std::size_t kept = resize.from < resize.to ? resize.from : resize.to;
  auto* bytes = static_cast<unsigned char*>(moved);
  for (std::size_t i = 0; i + 1 < kept; i += 4093) {
    ASSERT_EQ(bytes[i], static_cast<unsigned char>(i / 4093 + 1)) << "byte " << i;
  }
  if (resize.to >= resize.from) {
    EXPECT_EQ(bytes[resize.from - 1], 0x5A);
  }
  const std::size_t usable = malloc_usable_size(moved);
  EXPECT_GE(usable, resize.to);
  std::memset(moved, 1, usable);  // all of it is usable
  std::free(moved);
}

INSTANTIATE_TEST_SUITE_P(AcrossTheKindsOfBlock, Reallocation,
                         ::testing::Values(Resize{4096, 300 << 10},            // small to large
                                           Resize{200 << 10, 700 << 10},       // large, grown
                                           Resize{700 << 10, 3 * kMiB},        // large, grown past a megabyte
                                           Resize{4096, 20 * kMiB},            // small to a segment of its own
                                           Resize{3 * kMiB, 20 * kMiB},        // large to a segment of its own
                                           Resize{20 * kMiB, 41 * kMiB},       // own segment, grown
                                           Resize{41 * kMiB, 41 * kMiB + 7},   // own segment, within its room
                                           Resize{41 * kMiB, 2 * kMiB},        // own segment to large
                                           Resize{3 * kMiB, 1000}));           // large to small

TEST(Allocation, TheUsableSizeCoversTheRequestAndIsAllWritable) {
  for (const std::size_t size : {std::size_t{1}, std::size_t{24}, std::size_t{4096}, std::size_t{100} << 10,
                                 kMiB + 1, 5 * kMiB, 20 * kMiB + 3, 40 * kMiB}) {
    void* block = std::malloc(size);
    ASSERT_NE(block, nullptr) << size;
    const std::size_t usable = malloc_usable_size(block);
    EXPECT_GE(usable, size);
    Fill(block, usable);
    EXPECT_TRUE(Holds(block, usable)) << size;
    std::free(block);
  }
}

TEST(Allocation, ZeroedBlocksAreZeroEvenWhereADirtyOneWas) {
  for (const std::size_t size : {std::size_t{100} << 10, 5 * kMiB, 40 * kMiB}) {
    for (int round = 0; round < 3; ++round) {
      auto* dirty = static_cast<unsigned char*>(std::malloc(size));
      ASSERT_NE(dirty, nullptr);
      std::memset(dirty, 0xFF, size);
      std::free(dirty);
      auto* clean = static_cast<unsigned char*>(std::calloc(size / 1024, 1024));
      ASSERT_NE(clean, nullptr);
      for (std::size_t i = 0; i < size; i += 997) ASSERT_EQ(clean[i], 0) << "size " << size << " byte " << i;
      ASSERT_EQ(clean[size - 1], 0);
      std::free(clean);
    }
  }
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's calloc stops the program here instead
  volatile std::size_t count = SIZE_MAX / 2;  // out of the compiler's sight, which would refuse it
  EXPECT_EQ(std::calloc(count, 4), nullptr) << "an overflowing count and size";
#endif
}

// Whether the mapping holding address is marked for transparent huge pages.
bool MarkedForHugePages(const void* address) {
  std::ifstream maps("/proc/self/smaps");
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::string line;
  bool inside = false;
  while (std::getline(maps, line)) {
    unsigned long from = 0;
    unsigned long to = 0;
    char permissions[8];
    if (std::sscanf(line.c_str(), "%lx-%lx %7s", &from, &to, permissions) == 3) {
      inside = at >= from && at < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.find(" hg") != std::string::npos;
    }
  }
  return false;
}

TEST(Allocator, IsMimallocSetForHugePagesAndForTheConfinedChild) {
  if (kSanitizedBuild) GTEST_SKIP() << "the sanitizer's malloc serves this build";
  void* small = std::malloc(100);
  void* image = std::malloc(4000 * 3000 * 3);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(mi_is_in_heap_region(small));
  EXPECT_TRUE(mi_is_in_heap_region(image));
  EXPECT_TRUE(mi_option_is_enabled(mi_option_large_os_pages));
  EXPECT_EQ(mi_option_get(mi_option_use_numa_nodes), 1);
  EXPECT_FALSE(mi_option_is_enabled(mi_option_show_errors));
  EXPECT_FALSE(mi_option_is_enabled(mi_option_verbose));
  struct stat info {};
  if (::stat("/sys/kernel/mm/transparent_hugepage", &info) == 0) {
    EXPECT_TRUE(MarkedForHugePages(image)) << "a 4000x3000 bitmap's memory";
  }
  std::free(image);
  std::free(small);
}

TEST(Allocator, ServesTheConfinedChildWithinItsFilter) {
  // New segments, blocks of their own, growth and release: every call the
  // allocator makes for them must pass the child's filter.
  const SandboxResult result = RunSandboxed({}, {}, [](int) {
    std::vector<void*> blocks;
    for (std::size_t size = 16; size <= 96 * kMiB; size = size * 3 + 5) {
      void* block = std::calloc(1, size);
      if (block == nullptr) return 3;
      Fill(block, size);
      blocks.push_back(block);
    }
    for (std::size_t i = 0; i < blocks.size(); i += 2) std::free(blocks[i]);
    void* grown = std::malloc(4096);
    for (std::size_t size = 8192; grown != nullptr && size <= 64 * kMiB; size *= 4) grown = std::realloc(grown, size);
    if (grown == nullptr) return 4;
    std::free(grown);
    for (std::size_t i = 1; i < blocks.size(); i += 2) std::free(blocks[i]);
    return 0;
  });
  EXPECT_TRUE(result.Succeeded()) << "end " << static_cast<int>(result.end) << " signal " << result.signal
                                  << " exit " << result.exitCode;

  if (kSanitizedBuild) return;  // the sanitizer's malloc reports a failed allocation and stops the child
  // Beyond the child's address space the allocator reports the failure, which
  // ends the child as out of memory: nothing written to standard error, which
  // the filter forbids, and no decoder left to trip over the null.
  SandboxLimits limits;
  limits.extraAddressSpace = 64 * kMiB;
  const SandboxResult refused = RunSandboxed(limits, {}, [](int) {
    void* block = std::malloc(512 * kMiB);
    return block == nullptr ? 7 : 0;
  });
  EXPECT_EQ(refused.end, SandboxEnd::OutOfMemory) << "signal " << refused.signal << " exit " << refused.exitCode;
}

TEST(PixelMemory, LargeBlocksStartOnAHugePageAndAreWritableToTheEnd) {
  for (const std::size_t size : {std::size_t{1}, 300 * std::size_t{1024}, 5 * kMiB + 3}) {
    const std::shared_ptr<void> memory = MapPixelMemory(size);
    ASSERT_TRUE(memory) << size;
    if (size >= kHugePageBytes) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory.get()) % kHugePageBytes, 0u);
    }
    Fill(memory.get(), size);
    EXPECT_TRUE(Holds(memory.get(), size));
  }
}

}  // namespace
}  // namespace kestrel
