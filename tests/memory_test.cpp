// The C allocation functions as the program links them (in release builds,
// large blocks come from platform/large_blocks.cpp): what any correct
// malloc promises, around the lines where blocks change hands (128 KB, 1 MB).
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/pixel_memory.h"

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
  std::memset(moved, 1, resize.to);  // all of it is usable
  std::free(moved);
}

INSTANTIATE_TEST_SUITE_P(AcrossTheLargeLine, Reallocation,
                         ::testing::Values(Resize{4096, 300 << 10},         // small to medium
                                           Resize{200 << 10, 700 << 10},    // medium, grown past its mapping
                                           Resize{700 << 10, 3 * kMiB},     // medium to large
                                           Resize{4096, 3 * kMiB},          // small to large
                                           Resize{3 * kMiB, 9 * kMiB},      // large, grown past its mapping
                                           Resize{3 * kMiB, 3 * kMiB + 7},  // large, within its mapping
                                           Resize{9 * kMiB, 2 * kMiB},      // large, shrunk
                                           Resize{3 * kMiB, 1000}));        // large to small

TEST(Allocation, LargeZeroedBlocksAreZeroEvenWhereADirtyOneWas) {
  for (int round = 0; round < 3; ++round) {
    auto* dirty = static_cast<unsigned char*>(std::malloc(5 * kMiB));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xFF, 5 * kMiB);
    std::free(dirty);
    auto* clean = static_cast<unsigned char*>(std::calloc(5, kMiB));
    ASSERT_NE(clean, nullptr);
    for (std::size_t i = 0; i < 5 * kMiB; i += 997) ASSERT_EQ(clean[i], 0) << "byte " << i;
    std::free(clean);
  }
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's calloc stops the program here instead
  volatile std::size_t count = SIZE_MAX / 2;  // out of the compiler's sight, which would refuse it
  EXPECT_EQ(std::calloc(count, 4), nullptr) << "an overflowing count and size";
#endif
}

// Freed large blocks are kept to serve the next requests they fit: no block
// is ever handed to two owners at once, however many threads take and free them.
TEST(Allocation, FreedLargeBlocksAreReusedByOneOwnerAtATime) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 150; ++i) {
        const std::size_t size = kMiB + static_cast<std::size_t>((i * 7919 + t * 104729) % (3 * kMiB));
        auto* block = static_cast<unsigned char*>(std::malloc(size));
        if (block == nullptr) {
          ++wrong;
          continue;
        }
        const auto mark = static_cast<unsigned char>(t * 50 + i % 50);
        std::memset(block, mark, size);
        for (std::size_t at = 0; at < size; at += 4093) {
          if (block[at] != mark) ++wrong;
        }
        if (block[size - 1] != mark) ++wrong;
        std::free(block);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Libraries ask how much of a block they may use (libsystemd does); every
// kind of block answers with at least what was asked for, all of it writable.
TEST(Allocation, UsableSizeCoversTheRequestOfEveryKindOfBlock) {
  for (const std::size_t size : {std::size_t{24}, std::size_t{200} << 10, std::size_t{3} << 20}) {
    void* block = std::malloc(size);
    ASSERT_NE(block, nullptr);
    const std::size_t usable = ::malloc_usable_size(block);
    EXPECT_GE(usable, size);
    EXPECT_LT(usable, size + (std::size_t{2} << 20));
    std::memset(block, 0x5A, usable);
    std::free(block);
  }
}

TEST(Allocation, MoreLiveLargeBlocksThanTheTableHoldsStillWork) {
  std::vector<void*> blocks;
  for (int i = 0; i < 300; ++i) {
    void* block = std::malloc(kMiB + static_cast<std::size_t>(i));
    ASSERT_NE(block, nullptr);
    static_cast<unsigned char*>(block)[kMiB - 1] = static_cast<unsigned char>(i);
    blocks.push_back(block);
  }
  for (int i = 0; i < 300; ++i) EXPECT_EQ(static_cast<unsigned char*>(blocks[i])[kMiB - 1], static_cast<unsigned char>(i));
  // Freed in an order other than that of allocation, then the table is usable again.
  for (std::size_t i = 0; i < blocks.size(); i += 2) std::free(blocks[i]);
  for (std::size_t i = 1; i < blocks.size(); i += 2) std::free(blocks[i]);
  void* again = std::malloc(2 * kMiB);
  ASSERT_NE(again, nullptr);
  Fill(again, 2 * kMiB);
  EXPECT_TRUE(Holds(again, 2 * kMiB));
  std::free(again);
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

TEST(PixelMemory, ASmallImagesMemoryServesTheNextImageOfAboutItsSize) {
  void* first = nullptr;
  {
    const std::shared_ptr<void> memory = MapPixelMemory(900 * std::size_t{1024});
    ASSERT_TRUE(memory);
    first = memory.get();
    Fill(first, 900 * std::size_t{1024});
  }
  // Far smaller or larger images get memory of their own; about the same size takes the kept one.
  const std::shared_ptr<void> small = MapPixelMemory(100 * std::size_t{1024});
  EXPECT_NE(small.get(), first);
  const std::shared_ptr<void> same = MapPixelMemory(880 * std::size_t{1024});
  EXPECT_EQ(same.get(), first);
  Fill(same.get(), 880 * std::size_t{1024});
  EXPECT_TRUE(Holds(same.get(), 880 * std::size_t{1024}));
}

}  // namespace
}  // namespace kestrel
