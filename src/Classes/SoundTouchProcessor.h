#pragma once
// The engine's pitch and tempo processor: a 16-bit facade over the library's float processor.
// Samples cross the boundary through scratch buffers allocated once, and what the library has
// processed is moved at once into a store of our own, sized once for the longest backlog a
// recording can build up; the library's buffers then only ever hold one put's worth, which the
// set-up's short warm-up reaches. A new pitch's filter design is served by FilterDesignPool.
// After set-up no call made by the audio callbacks allocates, whatever the voice.
#include <cstdint>
#include <memory>

namespace soundtouch {
class SoundTouch;
}

class SoundTouchProcessor {
 public:
  // Largest block converted in one pass; longer requests are handled in pieces.
  static constexpr unsigned kScratchSamples = 4096;
  // Processed samples the store holds. At the slowest tempo (0.25) a recording that fills the
  // playback buffer leaves three times the buffer unread, plus the flush's share; anything
  // beyond the store stays in the library, in order, at the price of growing its buffers.
  static constexpr unsigned kHeldSamples = 4 * 132300 + 16 * kScratchSamples;

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

  // Gives every buffer of the library, at the corners of the pitch and tempo range (0.25..4),
  // more room than one put and what stays between two puts can take, and maps the store's
  // pages. Leaves the processor cleared, with the pitch and tempo it had before.
  void warmUp();

 private:
  void collect();
  unsigned takeHeld(std::int16_t* destination, unsigned maxCount);

  class Engine;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<float[]> in_;
  std::unique_ptr<float[]> out_;
  // A ring of processed samples that precede anything still in the library.
  std::unique_ptr<std::int16_t[]> held_;
  unsigned heldStart_ = 0;
  unsigned heldCount_ = 0;
  long delivered_ = 0;  // samples handed to the caller since the last clear()
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
// warm-up (unless `warmUp` is false) and the final clear.
void setUpSoundTouch(bool warmUp = true);
