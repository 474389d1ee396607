#pragma once
// Whether a termination signal (SIGINT, SIGTERM, SIGHUP) has asked the process to stop. Code that
// can block on the main thread (opening a FIFO, writing into a pipe, waiting for a child) checks
// it before blocking and whenever a call fails with EINTR, and gives up instead of retrying.
namespace platform {

// The signal that asked to stop, or 0.
int interruptionSignal();
// Records `signal` (the first one wins). Safe to call from any thread.
void requestInterruption(int signal);

}  // namespace platform
