// The filter design pool, and this program's operator new and delete, which consult it.
#include "FilterDesignPool.h"

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

alignas(64) unsigned char blocks[filterpool::kBlocks][filterpool::kBlockBytes];
std::atomic<std::uint32_t> taken{0};  // one bit per block
std::atomic<std::size_t> fallbacks{0};
thread_local int scopeDepth = 0;

static_assert(filterpool::kBlocks == 32, "one bit per block in a 32-bit word");

void* take(std::size_t size) noexcept {
  if (scopeDepth == 0) return nullptr;
  if (size <= filterpool::kBlockBytes) {
    std::uint32_t current = taken.load(std::memory_order_relaxed);
    while (current != ~std::uint32_t{0}) {
      const int free = std::countr_one(current);
      if (taken.compare_exchange_weak(current, current | (std::uint32_t{1} << free),
                                      std::memory_order_acquire, std::memory_order_relaxed)) {
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
  const auto index = (at - first) / filterpool::kBlockBytes;
  taken.fetch_and(~(std::uint32_t{1} << index), std::memory_order_release);
  return true;
}

void* allocate(std::size_t size) {
  if (void* block = take(size)) return block;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void release(void* pointer) noexcept {
  if (!giveBack(pointer)) std::free(pointer);
}

}  // namespace

namespace filterpool {

Scope::Scope() noexcept { ++scopeDepth; }
Scope::~Scope() { --scopeDepth; }

std::size_t blocksInUse() noexcept {
  return static_cast<std::size_t>(std::popcount(taken.load(std::memory_order_relaxed)));
}

std::size_t heapFallbacks() noexcept { return fallbacks.load(std::memory_order_relaxed); }

}  // namespace filterpool

// The library allocates with plain new[] and frees with delete[]; the aligned forms never see a
// pool block and keep their standard definitions.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
