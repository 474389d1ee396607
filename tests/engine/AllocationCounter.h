#pragma once
// Counts heap allocations (malloc, calloc, realloc and the aligned forms, which are replaced in
// this test program, and every operator new that reaches them) between start() and stop(), on
// any thread.
#include <cstddef>

namespace allocations {
void start();
std::size_t stop();  // allocations since start()
}  // namespace allocations
