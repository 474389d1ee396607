// The filter design pool. Under AddressSanitizer a free block is poisoned, and a taken one is
// open only for the bytes asked for, so overflows and uses after delete are still reported.
#include "FilterDesignPool.h"

#include <atomic>
#include <bit>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace {

alignas(64) unsigned char blocks[filterpool::kBlocks][filterpool::kBlockBytes];
std::atomic<std::uint32_t> taken{0};  // one bit per block
std::atomic<std::size_t> fallbacks{0};
thread_local int scopeDepth = 0;

static_assert(filterpool::kBlocks == 32, "one bit per block in a 32-bit word");

[[maybe_unused]] const bool poisoned = [] {
  ASAN_POISON_MEMORY_REGION(blocks, sizeof blocks);
  return true;
}();

}  // namespace

namespace filterpool {

Scope::Scope() noexcept { ++scopeDepth; }
Scope::~Scope() { --scopeDepth; }

void* take(std::size_t size) noexcept {
  if (scopeDepth == 0) return nullptr;
  if (size <= kBlockBytes) {
    std::uint32_t current = taken.load(std::memory_order_relaxed);
    while (current != ~std::uint32_t{0}) {
      const int free = std::countr_one(current);
      if (taken.compare_exchange_weak(current, current | (std::uint32_t{1} << free),
                                      std::memory_order_acquire, std::memory_order_relaxed)) {
        ASAN_UNPOISON_MEMORY_REGION(blocks[free], size);
        return blocks[free];
      }
    }
  }
  fallbacks.fetch_add(1, std::memory_order_relaxed);
  return nullptr;
}

bool giveBack(void* pointer) noexcept {
  const auto at = reinterpret_cast<std::uintptr_t>(pointer);
  const auto first = reinterpret_cast<std::uintptr_t>(blocks);
  if (at < first || at >= first + sizeof(blocks)) return false;
  const auto index = (at - first) / kBlockBytes;
  ASAN_POISON_MEMORY_REGION(blocks[index], kBlockBytes);
  taken.fetch_and(~(std::uint32_t{1} << index), std::memory_order_release);
  return true;
}

std::size_t blocksInUse() noexcept {
  return static_cast<std::size_t>(std::popcount(taken.load(std::memory_order_relaxed)));
}

std::size_t heapFallbacks() noexcept { return fallbacks.load(std::memory_order_relaxed); }

}  // namespace filterpool
