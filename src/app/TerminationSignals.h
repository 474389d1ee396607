#pragma once
// SIGINT, SIGTERM and SIGHUP end the app through its normal termination (analytics closed, audio
// stopped, temporary files removed) instead of killing it, whatever the main thread is doing.
//
// install() blocks them in every thread and waits for them on a thread of its own. When one
// arrives it records it (platform::interruptionSignal()), wakes the run loop through a pipe, and
// keeps interrupting the main thread's blocking system calls (they fail with EINTR) until the
// main thread acknowledges it, so a main thread stuck opening a FIFO or writing to a stalled
// child notices within a fraction of a second. SIGPIPE is ignored: a closed pipe or stdout makes
// the write fail instead of killing the process.
#include <functional>

#include "platform/RunLoop.h"

class TerminationSignals {
 public:
  // Call on the main thread before any other thread starts, so every thread inherits the mask.
  static void install();
  // The signal received so far, or 0.
  static int received();
  // The main thread has seen the signal and is winding down: no more interruptions.
  static void acknowledge();
  // 128 + the signal, the status a process ended by it reports.
  static int exitStatus(int signal) { return 128 + signal; }

  // Calls `onSignal` on `loop` when a signal arrives (or has arrived before).
  explicit TerminationSignals(platform::RunLoop& loop, std::function<void()> onSignal);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  platform::RunLoop& loop_;
  platform::RunLoop::Id source_ = 0;
};
