#pragma once
// "The current thread's run loop": RunLoop::main() unless a scope on this thread names another
// (tests and helper threads drive their own loops).
#include "platform/RunLoop.h"

namespace platform {

RunLoop& currentRunLoop();

class CurrentRunLoopScope {
 public:
  explicit CurrentRunLoopScope(RunLoop& loop);
  ~CurrentRunLoopScope();
  CurrentRunLoopScope(const CurrentRunLoopScope&) = delete;
  CurrentRunLoopScope& operator=(const CurrentRunLoopScope&) = delete;

 private:
  RunLoop* previous_;
};

}  // namespace platform
