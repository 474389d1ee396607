// This program's operator new and delete: pool blocks for filter designs inside a
// filterpool::Scope, the heap otherwise. Linked only into binaries that run the engine on a
// real-time thread (see FilterDesignPool.h).
#include <cstdlib>
#include <new>

#include "FilterDesignPool.h"

namespace {

void* allocate(std::size_t size) {
  if (void* block = filterpool::take(size)) return block;
  for (;;) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void release(void* pointer) noexcept {
  if (!filterpool::giveBack(pointer)) std::free(pointer);
}

}  // namespace

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
