#include "PulseStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

#include "PulseConnection.h"

namespace platform {

namespace {
// Microphone blocks arrive in quarter cycles, so a cycle starts soon after its last sample is
// captured. The loudspeaker starts a little ahead of what plays (far below the server's default
// of about two seconds), and each underrun adds a quarter cycle, up to four cycles, so a busy
// machine settles where it plays without gaps.
constexpr std::uint32_t kFragmentBytes = PulseStream::kCycleFrames / 4 * 2;
constexpr std::uint32_t kGrowBytes = PulseStream::kCycleFrames / 4 * 2;
constexpr std::uint32_t kMostAheadBytes = PulseStream::kCycleFrames * 4 * 2;

constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, 44100, 1};

bool ready(pa_stream* s) { return s && pa_stream_get_state(s) == PA_STREAM_READY; }
bool ended(pa_stream* s) { return !s || !PA_STREAM_IS_GOOD(pa_stream_get_state(s)); }
}  // namespace

PulseStream::PulseStream(PulseConnection& connection, Cycle cycle, void* user)
    : connection_(connection), cycle_(cycle), user_(user) {}

PulseStream::~PulseStream() {
  stop();
  close();
}

void PulseStream::onState(pa_stream* s, void* self) {
  auto* me = static_cast<PulseStream*>(self);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) me->failed_.store(true, std::memory_order_relaxed);
  pa_threaded_mainloop_signal(me->connection_.mainloop(), 0);
}

void PulseStream::onRequest(pa_stream*, std::size_t, void* self) {
  pa_threaded_mainloop_signal(static_cast<PulseStream*>(self)->connection_.mainloop(), 0);
}

void PulseStream::onUnderflow(pa_stream*, void* self) {
  auto* me = static_cast<PulseStream*>(self);
  if (me->started_.load(std::memory_order_relaxed)) me->underruns_.fetch_add(1, std::memory_order_relaxed);
}

std::string PulseStream::open(const std::string& source, const std::string& sink, unsigned aheadFrames,
                              double seconds) {
  close();
  aheadBytes_ = std::min(aheadFrames * 2, kMostAheadBytes);
  failed_ = false;
  started_ = false;
  pa_context* context = connection_.context();
  pa_threaded_mainloop* loop = connection_.mainloop();
  pa_threaded_mainloop_lock(loop);
  record_ = pa_stream_new(context, "Microphone", &kSpec, nullptr);
  playback_ = pa_stream_new(context, "Answers", &kSpec, nullptr);
  if (!record_ || !playback_) {
    pa_threaded_mainloop_unlock(loop);
    close();
    return "cannot create the sound streams";
  }
  pa_stream_set_state_callback(record_, &onState, this);
  pa_stream_set_read_callback(record_, &onRequest, this);
  pa_stream_set_state_callback(playback_, &onState, this);
  pa_stream_set_underflow_callback(playback_, &onUnderflow, this);
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                                    PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
  const pa_buffer_attr recordAttr{static_cast<std::uint32_t>(-1), 0, 0, 0, kFragmentBytes};
  const pa_buffer_attr playbackAttr{static_cast<std::uint32_t>(-1), aheadBytes_, static_cast<std::uint32_t>(-1),
                                    static_cast<std::uint32_t>(-1), 0};
  const bool connected =
      pa_stream_connect_record(record_, source.c_str(), &recordAttr, flags) == 0 &&
      pa_stream_connect_playback(playback_, sink.c_str(), &playbackAttr, flags, nullptr, nullptr) == 0;
  pa_threaded_mainloop_unlock(loop);
  if (!connected) {
    close();
    return "the sound server refused the streams";
  }
  const bool settled = connection_.waitFor(seconds, [&] {
    return (ready(record_) && ready(playback_)) || ended(record_) || ended(playback_) || connection_.lost();
  });
  if (!settled || ended(record_) || ended(playback_) || connection_.lost()) {
    close();
    // A PipeWire server without its session manager accepts streams but never links them.
    return settled ? "the sound server could not open the devices"
                   : "the sound server did not open the devices within " + std::to_string(int(seconds)) +
                         " s (is its session manager running?)";
  }
  return {};
}

void PulseStream::start() {
  if (running_ || !record_ || !playback_) return;
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void PulseStream::stop() {
  if (!running_) return;
  running_ = false;
  pa_threaded_mainloop_lock(connection_.mainloop());
  pa_threaded_mainloop_signal(connection_.mainloop(), 0);
  pa_threaded_mainloop_unlock(connection_.mainloop());
  if (thread_.joinable()) thread_.join();
}

void PulseStream::close() {
  if (!record_ && !playback_) return;
  pa_threaded_mainloop_lock(connection_.mainloop());
  for (pa_stream** s : {&record_, &playback_}) {
    if (!*s) continue;
    pa_stream_set_state_callback(*s, nullptr, nullptr);
    pa_stream_set_read_callback(*s, nullptr, nullptr);
    pa_stream_set_underflow_callback(*s, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(*s))) pa_stream_disconnect(*s);
    pa_stream_unref(*s);
    *s = nullptr;
  }
  pa_threaded_mainloop_unlock(connection_.mainloop());
}

// The I/O thread. The loop's lock is held except while the engine runs its cycle.
void PulseStream::run() {
  pa_threaded_mainloop* loop = connection_.mainloop();
  pa_threaded_mainloop_lock(loop);
  std::memset(out_, 0, sizeof out_);
  // The silence the loudspeaker plays while the first microphone cycle fills.
  for (std::uint32_t queued = 0; queued < aheadBytes_; queued += sizeof out_) {
    pa_stream_write(playback_, out_, std::min<std::size_t>(sizeof out_, aheadBytes_ - queued), nullptr, 0,
                    PA_SEEK_RELATIVE);
  }
  std::size_t have = 0;  // frames of in_ filled
  std::uint32_t ahead = aheadBytes_;
  std::uint64_t underrunsMet = 0;
  while (running_.load(std::memory_order_relaxed)) {
    if (!ready(record_) || !ready(playback_) || connection_.lost()) {
      failed_.store(true, std::memory_order_relaxed);
      break;
    }
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_readable_size(record_) == 0 || pa_stream_peek(record_, &data, &bytes) < 0 || bytes == 0) {
      pa_threaded_mainloop_wait(loop);
      continue;
    }
    const auto* from = static_cast<const std::uint8_t*>(data);
    std::size_t left = bytes;
    while (left > 0) {
      const std::size_t take = std::min(left, (kCycleFrames - have) * 2);
      auto* to = reinterpret_cast<std::uint8_t*>(in_) + have * 2;
      if (from) {
        std::memcpy(to, from, take);
        from += take;
      } else {
        std::memset(to, 0, take);  // a hole in the recording: silence
      }
      have += take / 2;
      left -= take;
      if (have == kCycleFrames) {
        pa_threaded_mainloop_unlock(loop);
        cycle_(user_, in_, out_, kCycleFrames);
        pa_threaded_mainloop_lock(loop);
        const std::uint64_t underruns = underruns_.load(std::memory_order_relaxed);
        if (underruns != underrunsMet && ahead < kMostAheadBytes) {
          static const std::int16_t kSilence[kGrowBytes / 2] = {};
          pa_stream_write(playback_, kSilence, sizeof kSilence, nullptr, 0, PA_SEEK_RELATIVE);
          ahead += kGrowBytes;
          const pa_buffer_attr attr{static_cast<std::uint32_t>(-1), ahead, static_cast<std::uint32_t>(-1),
                                    static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1)};
          if (pa_operation* op = pa_stream_set_buffer_attr(playback_, &attr, nullptr, nullptr)) pa_operation_unref(op);
        }
        underrunsMet = underruns;
        // A stall (ours or the server's) hands over a backlog of microphone blocks at once, and
        // their answers would sit in the loudspeaker's buffer for good. While the loudspeaker is
        // more than a cycle over its target, the quiet blocks of listening are dropped, never
        // an answer's.
        pa_usec_t queued = 0;
        int negative = 0;
        const bool over = pa_stream_get_latency(playback_, &queued, &negative) == 0 && !negative &&
                          queued > pa_bytes_to_usec(ahead + sizeof out_, &kSpec);
        const bool quiet = std::all_of(std::begin(out_), std::end(out_), [](std::int16_t v) { return v == 0; });
        if (!quiet || !over) pa_stream_write(playback_, out_, sizeof out_, nullptr, 0, PA_SEEK_RELATIVE);
        started_.store(true, std::memory_order_relaxed);
        have = 0;
      }
    }
    pa_stream_drop(record_);
  }
  pa_threaded_mainloop_unlock(loop);
}

}  // namespace platform
