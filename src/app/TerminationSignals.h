#pragma once
// Ctrl-C and SIGTERM end the app through its normal termination (analytics closed, audio
// stopped, outputs finished) instead of killing it. The signals are blocked in every thread and
// read from a signalfd on the main run loop.
#include <functional>

#include "platform/runloop.h"

class TerminationSignals {
 public:
  // Call before any other thread starts, so every thread inherits the blocked mask.
  static void block();
  explicit TerminationSignals(platform::RunLoop& loop, std::function<void()> onSignal);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  platform::RunLoop& loop_;
  int fd_ = -1;
  platform::RunLoop::Id source_ = 0;
};
