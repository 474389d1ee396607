#include "PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <thread>
#include <vector>

namespace platform {

namespace {

// The main loop's lock for one scope.
class Locked {
 public:
  explicit Locked(pa_threaded_mainloop* m) : m_(m) { pa_threaded_mainloop_lock(m_); }
  ~Locked() { pa_threaded_mainloop_unlock(m_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  pa_threaded_mainloop* m_;
};

// What one listing collects; filled on the loop thread.
struct Listing {
  AudioSystem system;
  std::string defaultSink;
  std::string defaultSource;
  int pending = 3;
};

void onServer(pa_context*, const pa_server_info* info, void* data) {
  auto* l = static_cast<Listing*>(data);
  if (info) {
    l->defaultSink = info->default_sink_name ? info->default_sink_name : "";
    l->defaultSource = info->default_source_name ? info->default_source_name : "";
    const std::string server = info->server_name ? info->server_name : "";
    l->system.apiName = server.find("PipeWire") != std::string::npos ? "PipeWire" : "PulseAudio";
  }
  --l->pending;
}

// The server may leave a name or description out (a device being removed): such a device is
// skipped rather than listed half-known.
void onSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
  auto* l = static_cast<Listing*>(data);
  if (eol) {
    --l->pending;
  } else if (info && info->name) {
    l->system.devices.push_back({info->name, info->description ? info->description : info->name, 0, 0,
                                 info->channel_map.channels, false, false});
  }
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* l = static_cast<Listing*>(data);
  if (eol) {
    --l->pending;
  } else if (info && info->name) {
    l->system.devices.push_back({info->name, info->description ? info->description : info->name, 0,
                                 info->channel_map.channels, 0, false, false});
  }
}

}  // namespace

PulseConnection::PulseConnection() = default;

bool PulseConnection::waitFor(double seconds, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    {
      Locked lock(mainloop_);
      if (done()) return true;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

PulseConnection::~PulseConnection() {
  if (!mainloop_) return;
  pa_threaded_mainloop_stop(mainloop_);
  if (context_) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  pa_threaded_mainloop_free(mainloop_);
}

void PulseConnection::onState(pa_context* c, void* self) {
  auto* me = static_cast<PulseConnection*>(self);
  const pa_context_state_t state = pa_context_get_state(c);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
    me->lost_.store(true, std::memory_order_relaxed);
  }
  pa_threaded_mainloop_signal(me->mainloop_, 0);
}

bool PulseConnection::connect(double seconds, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  mainloop_ = pa_threaded_mainloop_new();
  if (!mainloop_) return fail("cannot start the PulseAudio client");
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Quibblers");
  pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "org.quibblers.Quibblers");
  pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "org.quibblers.Quibblers");
  context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "Quibblers", props);
  pa_proplist_free(props);
  if (!context_) return fail("cannot start the PulseAudio client");
  pa_context_set_state_callback(context_, &onState, this);
  pa_context_set_subscribe_callback(
      context_,
      [](pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* self) {
        const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        // A sink's volume changing is a "change" too; only devices coming and going, and the
        // server's defaults, matter here.
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER || kind != PA_SUBSCRIPTION_EVENT_CHANGE) {
          static_cast<PulseConnection*>(self)->changed_.store(true, std::memory_order_relaxed);
        }
      },
      this);
  // Never start a server of our own: the user's session owns it.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return fail("no PulseAudio or PipeWire sound server is running");
  }
  if (pa_threaded_mainloop_start(mainloop_) < 0) return fail("cannot start the PulseAudio client");
  pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
  const bool settled = waitFor(seconds, [&] {
    state = pa_context_get_state(context_);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  });
  if (!settled) return fail("the sound server did not answer within " + std::to_string(int(seconds)) + " s");
  if (state != PA_CONTEXT_READY) return fail("no PulseAudio or PipeWire sound server is running");
  Locked lock(mainloop_);
  const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                        PA_SUBSCRIPTION_MASK_SERVER);
  if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr)) pa_operation_unref(op);
  return true;
}

std::optional<AudioSystem> PulseConnection::devices(double seconds, std::string* why) {
  if (!context_ || lost()) {
    if (why) *why = "the sound server has gone";
    return std::nullopt;
  }
  Listing listing;
  listing.system.apiName = "PulseAudio";
  std::vector<pa_operation*> ops;
  {
    Locked lock(mainloop_);
    for (pa_operation* op : {pa_context_get_server_info(context_, &onServer, &listing),
                             pa_context_get_sink_info_list(context_, &onSink, &listing),
                             pa_context_get_source_info_list(context_, &onSource, &listing)}) {
      if (op) {
        ops.push_back(op);
      } else {
        --listing.pending;
      }
    }
  }
  const bool answered = waitFor(seconds, [&] { return listing.pending <= 0 || lost(); });
  Locked lock(mainloop_);
  for (pa_operation* op : ops) {
    // No callback may reach `listing` once we return.
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_unref(op);
  }
  if (!answered || lost()) {
    if (why) *why = lost() ? "the sound server has gone"
                           : "the sound server did not list its devices within " + std::to_string(int(seconds)) + " s";
    return std::nullopt;
  }
  AudioSystem system = std::move(listing.system);
  unsigned number = 0;
  for (AudioDevice& d : system.devices) {
    d.number = number++;
    d.defaultOutput = d.outputChannels > 0 && d.id == listing.defaultSink;
    d.defaultInput = d.inputChannels > 0 && d.id == listing.defaultSource;
  }
  return system;
}

}  // namespace platform
