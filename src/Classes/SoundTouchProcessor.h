#pragma once
// The engine's pitch and tempo processor: a 16-bit facade over the library's float processor.
// Samples cross the boundary through scratch buffers allocated once, so that after set-up (which
// also warms the library's own buffers up) no call made by the audio callbacks allocates.
#include <cstdint>
#include <memory>

namespace soundtouch {
class SoundTouch;
}

class SoundTouchProcessor {
 public:
  // Largest block converted in one pass; longer requests are handled in pieces.
  static constexpr unsigned kScratchSamples = 4096;

  SoundTouchProcessor();
  ~SoundTouchProcessor();
  SoundTouchProcessor(const SoundTouchProcessor&) = delete;
  SoundTouchProcessor& operator=(const SoundTouchProcessor&) = delete;

  void setSampleRate(unsigned rate);
  void setChannels(unsigned channels);
  bool setSetting(int settingId, int value);
  int getSetting(int settingId) const;
  void setPitch(float pitch);
  void setTempo(float tempo);

  void putSamples(const std::int16_t* samples, unsigned count);
  // Copies up to `maxCount` processed samples, saturated to 16 bits; returns how many.
  unsigned receiveSamples(std::int16_t* destination, unsigned maxCount);
  unsigned numUnprocessedSamples() const;
  unsigned numSamples() const;
  // Pushes out what the processor still holds, so that the output totals the input's duration.
  // The library's own flush allocates a padding buffer at every call; this one does not. The
  // stretcher keeps only padding in its input afterwards, which the engine's clear() removes.
  void flush();
  void clear();

  // Runs the processor through the largest workloads the engine can give it (long recordings
  // at extreme pitch and tempo, flushes), so every internal buffer reaches its final size now.
  // Leaves the processor cleared, with the pitch and tempo it had before.
  void warmUp();

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<float[]> in_;
  std::unique_ptr<float[]> out_;
  float pitch_ = 1.0f;
  float tempo_ = 1.0f;
};

// The one process-wide processor.
extern SoundTouchProcessor soundTouch;

// Float to 16 bits, rounded and saturated (never wrapped). Exposed for tests.
std::int16_t floatToSample(float value) noexcept;

// The engine's processor set-up, in this order: sample rate 44100, one channel, quick seek on,
// anti-alias filter off, its length st_aaFilterLength, sequence st_sequenceMS, seek window
// st_seekWindowMS, overlap st_overlapMS, pitch quibblePitch, tempo quibbleTimeStretch, then the
// warm-up and the final clear.
void setUpSoundTouch();
