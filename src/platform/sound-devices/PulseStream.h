#pragma once
// A duplex stream on a PulseAudio connection: a record and a playback stream, 16-bit mono
// 44100 Hz, and one I/O thread of ours that waits for each 1024-frame microphone block, hands
// it to `cycle` with a loudspeaker block to fill, and queues that block for playback. Device
// buffers are kept small and grow on underruns.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

struct pa_stream;

namespace platform {

class PulseConnection;

class PulseStream {
 public:
  static constexpr unsigned kCycleFrames = 1024;
  using Cycle = void (*)(void* user, const std::int16_t* in, std::int16_t* out, unsigned frames);

  PulseStream(PulseConnection& connection, Cycle cycle, void* user);
  ~PulseStream();
  PulseStream(const PulseStream&) = delete;
  PulseStream& operator=(const PulseStream&) = delete;

  // Opens both streams on the named source and sink, the loudspeaker `aheadFrames` ahead of
  // what plays; an empty string, or why not. Streams are not moved by the server: a device that
  // goes away ends them, and the owner decides.
  std::string open(const std::string& source, const std::string& sink, unsigned aheadFrames, double seconds);
  void start();
  void stop();

  // Any thread: a stream ended (its device went, the server failed), and the underruns seen
  // after the first cycle.
  bool failed() const { return failed_.load(std::memory_order_relaxed); }
  std::uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }

 private:
  void run();
  static void onState(pa_stream* s, void* self);
  static void onRequest(pa_stream* s, std::size_t bytes, void* self);
  static void onUnderflow(pa_stream* s, void* self);
  void close();

  PulseConnection& connection_;
  Cycle cycle_;
  void* user_;
  pa_stream* record_ = nullptr;
  pa_stream* playback_ = nullptr;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> started_{false};
  std::atomic<std::uint64_t> underruns_{0};
  std::uint32_t aheadBytes_ = 0;
  std::int16_t in_[kCycleFrames] = {};
  std::int16_t out_[kCycleFrames] = {};
};

}  // namespace platform
