#pragma once
// NSTimer stand-in on the main run loop. The run loop keeps a scheduled timer alive; holders keep
// a shared_ptr only to invalidate it.
#include <functional>
#include <memory>

#include "platform/RunLoop.h"

class NSTimer : public std::enable_shared_from_this<NSTimer> {
 public:
  // Schedules on RunLoop::main(): fires `action` after `interval` seconds, then every `interval`
  // seconds when `repeats`.
  static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double interval,
                                                                 std::function<void()> action,
                                                                 bool repeats);
  static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(platform::RunLoop& loop,
                                                                 double interval,
                                                                 std::function<void()> action,
                                                                 bool repeats);
  ~NSTimer();
  void invalidate();
  bool isValid() const { return valid_; }
  double timeInterval() const { return interval_; }

  NSTimer(platform::RunLoop& loop, double interval, bool repeats);  // use the factory

 private:
  platform::RunLoop& loop_;
  double interval_;
  bool repeats_;
  bool valid_ = true;
  platform::RunLoop::Id id_ = 0;
  std::function<void()> action_;
};
