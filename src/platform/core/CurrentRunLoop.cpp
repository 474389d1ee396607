#include "platform/CurrentRunLoop.h"

namespace platform {

namespace {
thread_local RunLoop* installed = nullptr;
}

RunLoop& currentRunLoop() { return installed ? *installed : RunLoop::main(); }

CurrentRunLoopScope::CurrentRunLoopScope(RunLoop& loop) : previous_(installed) { installed = &loop; }

CurrentRunLoopScope::~CurrentRunLoopScope() { installed = previous_; }

}  // namespace platform
