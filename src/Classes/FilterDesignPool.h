#pragma once
// Memory for the pitch library's filter designs, reserved in static storage.
//
// A new pitch makes the library redesign its anti-alias filter (five arrays of a few hundred
// bytes, even with the filter off), and the engine applies the pitch on the audio thread. While
// a Scope is alive on a thread, take() serves requests of up to kBlockBytes from a fixed set of
// blocks, taken and given back with one atomic operation each (no lock, no system call).
//
// The pool only decides; the operator new and delete that consult it live in a separate object
// (FilterDesignOperators.cpp), linked into the program and the allocation test alone, so that
// no other binary that links the engine loses its allocator or the sanitizer's checks.
#include <cstddef>

namespace filterpool {

constexpr std::size_t kBlockBytes = 1024;
constexpr std::size_t kBlocks = 32;

class Scope {
 public:
  Scope() noexcept;
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

// A free block for `size` bytes when a Scope is alive on this thread, else null. Inside a scope
// a request it cannot serve (too large, or no block free) is counted as a heap fallback.
void* take(std::size_t size) noexcept;
// Gives a block back from any thread; false if `pointer` is not a pool block.
bool giveBack(void* pointer) noexcept;

std::size_t blocksInUse() noexcept;
// Requests made inside a scope that went to the heap (too large, or no block free).
std::size_t heapFallbacks() noexcept;

}  // namespace filterpool
