#pragma once
// The main thread's run loop: timers, file-descriptor sources and posted tasks, on a clock that
// is real or virtual. In virtual time the loop never sleeps: when nothing is ready it jumps the
// clock to the next timer, so a headless run is deterministic and as fast as the CPU allows.
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class RunLoop {
 public:
  using Id = std::uint64_t;
  using Task = std::function<void()>;
  using FdCallback = std::function<void(short revents)>;

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The process-wide main run loop.
  static RunLoop& main();

  // Seconds on this loop's clock (monotonic when real; starts at 0 when virtual).
  double now() const;
  // Switches to virtual time starting at `start`. Do it before scheduling anything.
  void useVirtualTime(double start = 0.0);
  bool isVirtualTime() const;
  // Back to the real clock; every timer keeps its distance from now. For work that waits on the
  // outside world (a network answer) at the end of a virtual-time run.
  void useRealTime();

  // Loop thread only. A repeating timer (period > 0) keeps its phase: next = due + period.
  Id addTimer(double delaySeconds, double periodSeconds, Task task);
  void cancelTimer(Id id);
  bool hasTimer(Id id) const;

  // Loop thread only. `events` is a poll(2) mask (POLLIN, POLLOUT).
  Id addFdSource(int fd, short events, FdCallback callback);
  void updateFdSource(Id id, short events);
  void removeFdSource(Id id);

  // Any thread: runs `task` on the loop thread soon, in posting order.
  void post(Task task);

  // Runs until stop(). In virtual time it also returns when nothing is left to do
  // (no timers, no fd sources, no posted tasks).
  void run();
  // Runs until `done()` holds, stop() is called, or `timeoutSeconds` of loop time pass.
  // Returns done().
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
  // One pass: posted tasks, ready fds (waiting up to maxWaitSeconds in real time), due timers.
  void runOnce(double maxWaitSeconds);
  // Any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
