#pragma once
// Counts heap allocations and frees (malloc, calloc, realloc, the aligned forms and free, which
// are replaced in this test program, and every operator new and delete that reaches them)
// between start() and stop(), on any thread.
#include <cstddef>

namespace allocations {
void start();
std::size_t stop();  // allocations and frees since start()
}  // namespace allocations
