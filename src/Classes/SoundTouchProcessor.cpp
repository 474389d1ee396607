#include "SoundTouchProcessor.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "VoiceEngineState.h"

static_assert(std::is_same_v<soundtouch::SAMPLETYPE, float>,
              "the processor facade expects the library's float build");

// The library's processor, with its own count of expected output so that flush() can pad
// without the per-call allocation of the library's version. The bookkeeping mirrors the
// library's: expected += put / (tempo * rate); delivered += received.
class SoundTouchProcessor::Engine : public soundtouch::SoundTouch {
 public:
  void putSamples(const soundtouch::SAMPLETYPE* samples, uint count) override {
    soundtouch::SoundTouch::putSamples(samples, count);
    expectedOut_ += static_cast<double>(count) / (tempo * rate);
  }
  uint receiveSamples(soundtouch::SAMPLETYPE* destination, uint maxSamples) override {
    const uint got = soundtouch::SoundTouch::receiveSamples(destination, maxSamples);
    delivered_ += got;
    return got;
  }
  uint receiveSamples(uint maxSamples) override {
    const uint got = soundtouch::SoundTouch::receiveSamples(maxSamples);
    delivered_ += got;
    return got;
  }
  void clear() override {
    soundtouch::SoundTouch::clear();
    expectedOut_ = 0.0;
    delivered_ = 0;
  }
  void flushWithoutAllocating() {
    static constexpr soundtouch::SAMPLETYPE kSilence[128] = {};
    long stillExpected = static_cast<long>(expectedOut_ + 0.5) - delivered_;
    if (stillExpected < 0) stillExpected = 0;
    // Push silence until the expected output is there (at most 200 pieces, as the library does),
    // then trim the padding that came out beyond it.
    for (int i = 0; stillExpected > static_cast<long>(numSamples()) && i < 200; ++i) {
      soundtouch::SoundTouch::putSamples(kSilence, 128);
    }
    adjustAmountOfSamples(static_cast<uint>(stillExpected));
  }

 private:
  double expectedOut_ = 0.0;
  long delivered_ = 0;
};

SoundTouchProcessor soundTouch;

std::int16_t floatToSample(float value) noexcept {
  float scaled = value * 32768.0f;
  // Saturate (a NaN ends up at the top), then round to nearest, ties to even: the same result
  // as the vector path below.
  scaled = scaled < 32767.0f ? scaled : 32767.0f;
  scaled = scaled > -32768.0f ? scaled : -32768.0f;
  return static_cast<std::int16_t>(std::nearbyint(scaled));
}

namespace {
// floatToSample over a block; eight samples at a time where SSE2 is there.
void floatsToSamples(const float* in, std::int16_t* out, unsigned count) {
  unsigned i = 0;
#if defined(__SSE2__)
  const __m128 scale = _mm_set1_ps(32768.0f);
  const __m128 top = _mm_set1_ps(32767.0f);
  const __m128 bottom = _mm_set1_ps(-32768.0f);
  for (; i + 8 <= count; i += 8) {
    const __m128 a = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(in + i), scale), top), bottom);
    const __m128 b = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(in + i + 4), scale), top), bottom);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
  }
#endif
  for (; i < count; ++i) out[i] = floatToSample(in[i]);
}
}  // namespace

SoundTouchProcessor::SoundTouchProcessor()
    : engine_(std::make_unique<Engine>()),
      in_(std::make_unique<float[]>(kScratchSamples)),
      out_(std::make_unique<float[]>(kScratchSamples)) {}

SoundTouchProcessor::~SoundTouchProcessor() = default;

void SoundTouchProcessor::setSampleRate(unsigned rate) { engine_->setSampleRate(rate); }
void SoundTouchProcessor::setChannels(unsigned channels) { engine_->setChannels(channels); }
bool SoundTouchProcessor::setSetting(int settingId, int value) {
  return engine_->setSetting(settingId, value);
}
int SoundTouchProcessor::getSetting(int settingId) const { return engine_->getSetting(settingId); }

void SoundTouchProcessor::setPitch(float pitch) {
  pitch_ = pitch;
  engine_->setPitch(pitch);
}

void SoundTouchProcessor::setTempo(float tempo) {
  tempo_ = tempo;
  engine_->setTempo(tempo);
}

void SoundTouchProcessor::putSamples(const std::int16_t* samples, unsigned count) {
  // An empty put is not a no-op: after a pitch or tempo change it processes held input.
  if (count == 0) engine_->putSamples(in_.get(), 0);
  while (count > 0) {
    const unsigned piece = std::min(count, kScratchSamples);
    for (unsigned i = 0; i < piece; ++i) in_[i] = static_cast<float>(samples[i]) * (1.0f / 32768.0f);
    engine_->putSamples(in_.get(), piece);
    samples += piece;
    count -= piece;
  }
}

unsigned SoundTouchProcessor::receiveSamples(std::int16_t* destination, unsigned maxCount) {
  unsigned total = 0;
  while (total < maxCount) {
    const unsigned want = std::min(maxCount - total, kScratchSamples);
    const unsigned got = engine_->receiveSamples(out_.get(), want);
    floatsToSamples(out_.get(), destination + total, got);
    total += got;
    if (got < want) break;
  }
  return total;
}

unsigned SoundTouchProcessor::numUnprocessedSamples() const {
  return engine_->numUnprocessedSamples();
}

unsigned SoundTouchProcessor::numSamples() const { return engine_->numSamples(); }

void SoundTouchProcessor::flush() { engine_->flushWithoutAllocating(); }

void SoundTouchProcessor::clear() { engine_->clear(); }

void SoundTouchProcessor::warmUp() {
  const float keptPitch = pitch_;
  const float keptTempo = tempo_;
  static constexpr unsigned kBlock = 1024;
  std::int16_t block[kBlock];
  std::int16_t sink[kBlock];
  std::uint32_t noise = 12345;
  // Feeds `blocks` blocks of quiet noise at this pitch and tempo, taking out at most one block
  // per block as the engine does, then flushes, drains and clears.
  auto exercise = [&](float pitch, float tempo, unsigned blocks) {
    setPitch(pitch);
    setTempo(tempo);
    for (unsigned b = 0; b < blocks; ++b) {
      for (auto& s : block) {
        noise = noise * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<std::int32_t>(noise) >> 20);
      }
      putSamples(block, kBlock);
      receiveSamples(sink, kBlock);
    }
    flush();
    while (receiveSamples(sink, kBlock) > 0) {
    }
    clear();
  };
  // Pitch and tempo reach 0.25..4 through the tuning overlay: the corners give the longest
  // stretcher windows and the largest pieces between the two stages.
  for (float pitch : {0.25f, 4.0f}) {
    for (float tempo : {0.25f, 4.0f}) exercise(pitch, tempo, 48);
  }
  // The slowest tempo builds the largest backlog of output while a recording fills the playback
  // buffer (four samples out per sample in, one block taken per cycle). Which stage holds that
  // backlog depends on whether the pitch is above or below 1, so grow both, a little beyond
  // one whole recording.
  const unsigned recordingBlocks = kBigPlaybackBufferSamples / kBlock + 16;
  exercise(0.99f, 0.25f, recordingBlocks);
  exercise(1.01f, 0.25f, recordingBlocks);
  exercise(2.0f, 1.0f, 48);
  setPitch(keptPitch);
  setTempo(keptTempo);
  clear();
}

void setUpSoundTouch() {
  // The buffers never shrink, so one warm-up per set of lengths is enough.
  static std::int32_t warmedFor[4] = {-1, -1, -1, -1};
  soundTouch.setSampleRate(44100);
  soundTouch.setChannels(1);
  soundTouch.setSetting(SETTING_USE_QUICKSEEK, 1);
  soundTouch.setSetting(SETTING_USE_AA_FILTER, 0);
  soundTouch.setSetting(SETTING_AA_FILTER_LENGTH, st_aaFilterLength);
  soundTouch.setSetting(SETTING_SEQUENCE_MS, st_sequenceMS);
  soundTouch.setSetting(SETTING_SEEKWINDOW_MS, st_seekWindowMS);
  soundTouch.setSetting(SETTING_OVERLAP_MS, st_overlapMS);
  soundTouch.setPitch(quibblePitch);
  soundTouch.setTempo(quibbleTimeStretch);
  const std::int32_t lengths[4] = {st_aaFilterLength, st_sequenceMS, st_seekWindowMS, st_overlapMS};
  if (!std::equal(lengths, lengths + 4, warmedFor)) {
    soundTouch.warmUp();
    std::copy(lengths, lengths + 4, warmedFor);
  }
  soundTouch.clear();
}
