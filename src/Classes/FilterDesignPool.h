#pragma once
// Memory for the pitch library's filter designs, reserved in static storage.
//
// A new pitch makes the library redesign its anti-alias filter (five arrays of a few hundred
// bytes, even with the filter off), and the engine applies the pitch on the audio thread. While
// a FilterDesignScope is alive on a thread, this program's operator new serves requests of up
// to kBlockBytes from a fixed set of blocks, taken and given back with one atomic operation
// each (no lock, no system call); operator delete recognises the blocks by their address.
// Anything the pool cannot serve goes to the heap as usual and is counted as a fallback.
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

std::size_t blocksInUse() noexcept;
// Requests made inside a scope that went to the heap (too large, or no block free).
std::size_t heapFallbacks() noexcept;

}  // namespace filterpool
