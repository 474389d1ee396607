#include "platform/Interruption.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace

int interruptionSignal() { return requested.load(std::memory_order_acquire); }

void requestInterruption(int signal) {
  int none = 0;
  requested.compare_exchange_strong(none, signal, std::memory_order_acq_rel);
}

}  // namespace platform
