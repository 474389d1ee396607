// The filter design pool on its own: what it serves, when it refuses and counts, blocks given
// back from another thread, alignment, and the sanitizer's view of free blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "FilterDesignPool.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

TEST(FilterDesignPool, ServesOnlyInsideAScopeAndCountsWhatItCannotServe) {
  const std::size_t fallbacks = filterpool::heapFallbacks();
  EXPECT_EQ(filterpool::take(64), nullptr) << "outside a scope";
  EXPECT_EQ(filterpool::heapFallbacks(), fallbacks) << "outside a scope nothing is counted";

  filterpool::Scope scope;
  EXPECT_EQ(filterpool::take(filterpool::kBlockBytes + 1), nullptr) << "too large";
  EXPECT_EQ(filterpool::heapFallbacks(), fallbacks + 1);

  std::vector<void*> held;
  for (std::size_t i = 0; i < filterpool::kBlocks; ++i) held.push_back(filterpool::take(filterpool::kBlockBytes));
  for (void* block : held) {
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % __STDCPP_DEFAULT_NEW_ALIGNMENT__, 0u);
  }
  EXPECT_EQ(filterpool::blocksInUse(), filterpool::kBlocks);
  EXPECT_EQ(filterpool::take(8), nullptr) << "exhausted";
  EXPECT_EQ(filterpool::heapFallbacks(), fallbacks + 2);

  int ordinary = 0;
  EXPECT_FALSE(filterpool::giveBack(&ordinary)) << "not a pool block";
  for (void* block : held) EXPECT_TRUE(filterpool::giveBack(block));
  EXPECT_EQ(filterpool::blocksInUse(), 0u);
}

TEST(FilterDesignPool, ABlockGivenBackOnAnotherThreadCanBeTakenAgain) {
  void* block = nullptr;
  {
    filterpool::Scope scope;
    block = filterpool::take(100);
  }
  ASSERT_NE(block, nullptr);
  std::thread([block] { EXPECT_TRUE(filterpool::giveBack(block)); }).join();
  EXPECT_EQ(filterpool::blocksInUse(), 0u);
  filterpool::Scope scope;
  void* again = filterpool::take(100);
  EXPECT_EQ(again, block) << "the lowest free block";
  filterpool::giveBack(again);
}

TEST(FilterDesignPool, FreeBlocksArePoisonedForTheAddressSanitizer) {
#if defined(__SANITIZE_ADDRESS__)
  filterpool::Scope scope;
  auto* block = static_cast<unsigned char*>(filterpool::take(100));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(__asan_region_is_poisoned(block, 100), nullptr) << "the bytes asked for are open";
  EXPECT_TRUE(__asan_address_is_poisoned(block + 100)) << "an overflow is reported";
  filterpool::giveBack(block);
  EXPECT_TRUE(__asan_address_is_poisoned(block)) << "a use after delete is reported";
#else
  GTEST_SKIP() << "an AddressSanitizer build checks this";
#endif
}
