#include "SoundTouchProcessor.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FilterDesignPool.h"
#include "VoiceEngineState.h"

static_assert(std::is_same_v<soundtouch::SAMPLETYPE, float>,
              "the processor facade expects the library's float build");

// The library's processor, with its own count of expected output so that flush() can pad
// without the per-call allocation of the library's version. The bookkeeping mirrors the
// library's: expected += put / (tempo * rate).
class SoundTouchProcessor::Engine : public soundtouch::SoundTouch {
 public:
  void putSamples(const soundtouch::SAMPLETYPE* samples, uint count) override {
    soundtouch::SoundTouch::putSamples(samples, count);
    expectedOut_ += static_cast<double>(count) / (tempo * rate);
  }
  void clear() override {
    soundtouch::SoundTouch::clear();
    expectedOut_ = 0.0;
  }
  long expectedOutput() const { return static_cast<long>(expectedOut_ + 0.5); }
  // Padding is not counted as expected output, as in the library's flush.
  void putSilence() {
    static constexpr soundtouch::SAMPLETYPE kSilence[128] = {};
    soundtouch::SoundTouch::putSamples(kSilence, 128);
  }

 private:
  double expectedOut_ = 0.0;
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
      out_(std::make_unique<float[]>(kScratchSamples)),
      held_(new std::int16_t[kHeldSamples]) {}

SoundTouchProcessor::~SoundTouchProcessor() = default;

void SoundTouchProcessor::setSampleRate(unsigned rate) { engine_->setSampleRate(rate); }
void SoundTouchProcessor::setChannels(unsigned channels) { engine_->setChannels(channels); }
bool SoundTouchProcessor::setSetting(int settingId, int value) {
  if (settingId != SETTING_AA_FILTER_LENGTH) return engine_->setSetting(settingId, value);
  // The filter is designed anew, into the pool, so that a pitch change on the audio thread
  // later gives pool blocks back instead of freeing heap memory there.
  filterpool::Scope designs;
  return engine_->setSetting(settingId, value);
}
int SoundTouchProcessor::getSetting(int settingId) const { return engine_->getSetting(settingId); }

void SoundTouchProcessor::setPitch(float pitch) {
  pitch_ = pitch;
  {
    // A new pitch redesigns the anti-alias filter: its arrays come from the pool.
    filterpool::Scope designs;
    engine_->setPitch(pitch);
  }
  // Crossing pitch 1 reorders the library's two stages and can process held input.
  collect();
}

void SoundTouchProcessor::setTempo(float tempo) {
  tempo_ = tempo;
  engine_->setTempo(tempo);
}

// Moves what the library has processed into the store, as far as it has room.
void SoundTouchProcessor::collect() {
  while (heldCount_ < kHeldSamples) {
    const unsigned end = (heldStart_ + heldCount_) % kHeldSamples;
    const unsigned want = std::min({kHeldSamples - heldCount_, kHeldSamples - end, kScratchSamples});
    const unsigned got = engine_->receiveSamples(out_.get(), want);
    floatsToSamples(out_.get(), held_.get() + end, got);
    heldCount_ += got;
    if (got < want) break;
  }
}

unsigned SoundTouchProcessor::takeHeld(std::int16_t* destination, unsigned maxCount) {
  unsigned total = 0;
  while (total < maxCount && heldCount_ > 0) {
    const unsigned piece = std::min({maxCount - total, heldCount_, kHeldSamples - heldStart_});
    std::memcpy(destination + total, held_.get() + heldStart_, piece * sizeof(std::int16_t));
    heldStart_ = (heldStart_ + piece) % kHeldSamples;
    heldCount_ -= piece;
    total += piece;
  }
  return total;
}

void SoundTouchProcessor::putSamples(const std::int16_t* samples, unsigned count) {
  // An empty put is not a no-op: after a pitch or tempo change it processes held input.
  if (count == 0) {
    engine_->putSamples(in_.get(), 0);
    collect();
  }
  while (count > 0) {
    const unsigned piece = std::min(count, kScratchSamples);
    for (unsigned i = 0; i < piece; ++i) in_[i] = static_cast<float>(samples[i]) * (1.0f / 32768.0f);
    engine_->putSamples(in_.get(), piece);
    collect();
    samples += piece;
    count -= piece;
  }
}

unsigned SoundTouchProcessor::receiveSamples(std::int16_t* destination, unsigned maxCount) {
  unsigned total = takeHeld(destination, maxCount);
  // Only what did not fit into the store is still in the library.
  while (total < maxCount) {
    const unsigned want = std::min(maxCount - total, kScratchSamples);
    const unsigned got = engine_->receiveSamples(out_.get(), want);
    floatsToSamples(out_.get(), destination + total, got);
    total += got;
    if (got < want) break;
  }
  delivered_ += total;
  return total;
}

unsigned SoundTouchProcessor::numUnprocessedSamples() const {
  return engine_->numUnprocessedSamples();
}

unsigned SoundTouchProcessor::numSamples() const { return heldCount_ + engine_->numSamples(); }

void SoundTouchProcessor::flush() {
  long stillExpected = engine_->expectedOutput() - delivered_;
  if (stillExpected < 0) stillExpected = 0;
  // Push silence until the expected output is there (at most 200 pieces, as the library does),
  // then trim the padding that came out beyond it. After a voice change the count can stay
  // short and all 200 pieces go in; collected as they come out, they never pile up in the
  // library's buffers.
  for (int i = 0; stillExpected > static_cast<long>(numSamples()) && i < 200; ++i) {
    engine_->putSilence();
    collect();
  }
  const auto keep = static_cast<unsigned long>(stillExpected);
  if (heldCount_ >= keep) {
    heldCount_ = static_cast<unsigned>(keep);
    engine_->adjustAmountOfSamples(0);
  } else {
    engine_->adjustAmountOfSamples(static_cast<uint>(keep - heldCount_));
  }
}

void SoundTouchProcessor::clear() {
  engine_->clear();
  heldStart_ = 0;
  heldCount_ = 0;
  delivered_ = 0;
}

void SoundTouchProcessor::warmUp() {
  const float keptPitch = pitch_;
  const float keptTempo = tempo_;
  std::memset(held_.get(), 0, kHeldSamples * sizeof(std::int16_t));

  // In the engine each library put is at most one piece P (then collected), at pitch and tempo
  // 0.25..4. The stretcher holds less than one processing step's input between puts: at most
  // S = 16 sequences plus a seek window, at its fastest rate (pitch 0.25, tempo 4 give 16).
  // At its slowest (pitch 4, tempo 0.25: 1/16) one put comes out as up to K = 16 P + 2
  // sequences. Every buffer's need is bounded by these (docs/voice-engine.md).
  const auto samplesOf = [this](int setting) { return 44100u * static_cast<unsigned>(getSetting(setting)) / 1000u + 1; };
  const unsigned sequence = samplesOf(SETTING_SEQUENCE_MS);
  const unsigned seek = samplesOf(SETTING_SEEKWINDOW_MS);
  const unsigned overlap = samplesOf(SETTING_OVERLAP_MS);
  constexpr unsigned P = kScratchSamples;
  const unsigned S = 16 * sequence + seek;
  const unsigned K = 16 * P + 2 * sequence;
  const unsigned largest = std::max(S + 4 * P, K) + P;
  const auto quiet = std::make_unique<float[]>(largest);
  const auto put = [&](unsigned count) { engine_->putSamples(quiet.get(), count); };

  // The library grows a buffer to just what it needs (in 4 KiB steps) by allocating, copying
  // and freeing; grown a processing step at a time to hundreds of kilobytes, as a long put at a
  // slow tempo does, that costs tens of milliseconds and thousands of page faults. A buffer
  // grows in one step when a whole block moves into it: a put into the transposer (the first
  // stage below pitch 1), and the move of the last stage's output to the other stage when the
  // pitch crosses 1. So the large buffers are grown that way, before the corners run.
  //
  // 1. Below pitch 1 the transposer's input and output and the stretcher's input take a put
  //    whole; at tempo 4 the stretcher skips through it and writes little.
  setPitch(0.99f);
  setTempo(4.0f);
  put(largest);
  clear();
  // 2. Just above pitch 1 at the slowest tempo the transposer's output gathers puts (about 4 P
  //    each), and all of it moves into the stretcher's output when the pitch drops below 1.
  setPitch(1.01f);
  setTempo(0.25f);
  for (unsigned gathered = 0; gathered < K + sequence; gathered += 4 * P) put(P);
  {
    filterpool::Scope designs;
    engine_->setPitch(0.99f);  // not ours: that would collect the gathered output first
  }
  clear();
  // 3. At each corner, from empty, one put of P plus a processing step's input and one skip
  //    (in the stretcher's terms): every buffer passes its largest state in the engine (a
  //    put of P on top of the most that can wait). Then a flush.
  for (const float pitch : {0.25f, 4.0f}) {
    for (const float tempo : {0.25f, 4.0f}) {
      const double stretch = tempo / pitch;  // the stretcher's own tempo
      const double skip = stretch * (sequence - overlap);
      const double step = std::max(skip + overlap, double(sequence)) + seek;
      const double intoStretcher = (step + skip) * std::min(1.0, double(pitch));
      setPitch(pitch);
      setTempo(tempo);
      put(P + static_cast<unsigned>(intoStretcher) + 1);
      collect();
      flush();
      clear();
    }
  }
  setPitch(keptPitch);
  setTempo(keptTempo);
  clear();
}

void setUpSoundTouch(bool warmUp) {
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
  if (warmUp && !std::equal(lengths, lengths + 4, warmedFor)) {
    soundTouch.warmUp();
    std::copy(lengths, lengths + 4, warmedFor);
  }
  soundTouch.clear();
}
