#pragma once
// The voice (pitch, tempo, gain) crosses from the main thread to the audio thread as one unit,
// so a cycle never applies a new pitch with an old tempo.
//
// Three slots: the writer fills the one it owns and swaps it into the middle with a "fresh"
// mark; the audio thread, when the middle is fresh, swaps it with the one it reads. Both swaps
// are one atomic exchange (acquire-release), so neither side locks, waits or retries, and a slot
// is only ever touched by one side at a time. One writer thread; one reader at a time.
#include <atomic>
#include <cstdint>

#include "Relaxed.h"

struct Voice {
  float quibblePitch;
  float quibbleTimeStretch;
  float gain;
};

class VoiceHandover {
 public:
  explicit constexpr VoiceHandover(Voice initial) noexcept
      : slots_{initial, initial, initial},
        latestPitch_(initial.quibblePitch),
        latestTempo_(initial.quibbleTimeStretch),
        latestGain_(initial.gain) {}
  VoiceHandover(const VoiceHandover&) = delete;
  VoiceHandover& operator=(const VoiceHandover&) = delete;

  // Writer thread.
  void publish(const Voice& voice) noexcept {
    slots_[back_] = voice;
    latestPitch_ = voice.quibblePitch;
    latestTempo_ = voice.quibbleTimeStretch;
    latestGain_ = voice.gain;
    back_ = middle_.exchange(static_cast<std::uint8_t>(back_ | kFresh), std::memory_order_acq_rel) & kIndex;
  }

  // The newest voice published, whole. The audio thread's side: no lock, no wait.
  Voice take() noexcept {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) != 0) {
      front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
    }
    return slots_[front_];
  }

  // The last voice published, field by field, for anyone to show or to change one field of.
  Voice latest() const noexcept { return {latestPitch_, latestTempo_, latestGain_}; }

 private:
  static constexpr std::uint8_t kIndex = 3;
  static constexpr std::uint8_t kFresh = 4;

  Voice slots_[3];
  std::atomic<std::uint8_t> middle_{1};
  std::uint8_t back_ = 0;   // the writer's slot
  std::uint8_t front_ = 2;  // the reader's slot
  Relaxed<float> latestPitch_;
  Relaxed<float> latestTempo_;
  Relaxed<float> latestGain_;
};

// One field of the voice under its engine name: reading it gives the last published value;
// assigning it publishes the last voice with that field changed, as one unit.
class VoiceField {
 public:
  constexpr VoiceField(VoiceHandover& voice, float Voice::*field) noexcept : voice_(voice), field_(field) {}
  VoiceField(const VoiceField&) = delete;

  operator float() const noexcept { return load(); }
  float load() const noexcept { return voice_.latest().*field_; }
  VoiceField& operator=(float value) noexcept {
    Voice changed = voice_.latest();
    changed.*field_ = value;
    voice_.publish(changed);
    return *this;
  }

 private:
  VoiceHandover& voice_;
  float Voice::*field_;
};
