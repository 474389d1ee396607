#pragma once
// Counts heap allocations (malloc, calloc, realloc, aligned forms and every operator new, which
// are replaced in this test program) between start() and stop(), on any thread.
#include <cstddef>

namespace allocations {
void start();
std::size_t stop();  // allocations since start()
}  // namespace allocations
