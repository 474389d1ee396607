// Replaces the C allocator by thin counting wrappers over glibc's own entry points. The program's
// operator new (FilterDesignOperators, linked in here) ends in malloc unless it serves a block of
// the filter design pool, so no heap allocation escapes the count.
#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> count{0};
inline void note() {
  if (counting.load(std::memory_order_relaxed)) count.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace allocations {
void start() {
  count = 0;
  counting = true;
}
std::size_t stop() {
  counting = false;
  return count.load();
}
}  // namespace allocations

extern "C" {
void* malloc(std::size_t size) {
  note();
  return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
  note();
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
  note();
  return __libc_realloc(p, size);
}
void free(void* p) {
  if (p != nullptr) note();  // giving memory back to the heap can take its lock too
  __libc_free(p);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  note();
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
}
