#include "platform/NSTimer.h"

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval,
                                                                 std::function<void()> action,
                                                                 bool repeats) {
  return scheduledTimerWithTimeInterval(platform::RunLoop::main(), interval, std::move(action),
                                        repeats);
}

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(platform::RunLoop& loop,
                                                                 double interval,
                                                                 std::function<void()> action,
                                                                 bool repeats) {
  auto timer = std::make_shared<NSTimer>(loop, interval, repeats);
  timer->action_ = std::move(action);
  // The loop holds the timer alive until it is invalidated or a one-shot has fired.
  std::shared_ptr<NSTimer> self = timer;
  // The adjusted period, not the raw one: a repeating timer at 0 must keep repeating.
  timer->id_ = loop.addTimer(timer->interval_, repeats ? timer->interval_ : 0.0, [self]() mutable {
    if (!self) return;
    auto keep = self;
    if (!keep->repeats_) {
      keep->valid_ = false;
      self.reset();
    }
    if (keep->action_) keep->action_();
  });
  return timer;
}

NSTimer::NSTimer(platform::RunLoop& loop, double interval, bool repeats)
    : loop_(loop), interval_(interval > 0 ? interval : 0.0001), repeats_(repeats) {}

NSTimer::~NSTimer() = default;

void NSTimer::invalidate() {
  if (!valid_) return;
  valid_ = false;
  action_ = nullptr;
  loop_.cancelTimer(id_);  // drops the loop's reference to this timer
}
