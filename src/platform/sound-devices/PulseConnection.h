#pragma once
// One connection to the user's PulseAudio server (or PipeWire's PulseAudio service), on a
// libpulse threaded main loop: lists the sinks and sources under their own names, watches
// for devices coming, going and becoming the default, and carries the duplex stream.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "AudioDeviceList.h"

struct pa_threaded_mainloop;
struct pa_context;

namespace platform {

class PulseConnection {
 public:
  PulseConnection();
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Connects without starting a server; false with the reason when there is none to reach
  // within `seconds`.
  bool connect(double seconds, std::string* why);
  // Every sink and source the server has now (possibly none), the defaults marked.
  std::optional<AudioSystem> devices(double seconds, std::string* why);

  // Any thread: the server went away; devices or defaults changed since the last call.
  bool lost() const { return lost_.load(std::memory_order_relaxed); }
  bool takeChange() { return changed_.exchange(false, std::memory_order_relaxed); }

  // Polls `done` with the loop locked until it holds or `seconds` pass; a server that never
  // answers must not hang the caller.
  bool waitFor(double seconds, const std::function<bool()>& done);

  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  pa_context* context() const { return context_; }

 private:
  static void onState(pa_context* c, void* self);

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  std::atomic<bool> lost_{false};
  std::atomic<bool> changed_{false};
};

}  // namespace platform
