// After set-up, whole listen → record → flush → playback cycles, greetings and voice changes make
// no heap allocation or free inside the audio callbacks or the back ends' cycle wrappers.
#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <vector>

#include "AllocationCounter.h"
#include "PuppetAppDelegateAudio.h"
#include "RtAudioBackend.h"
#include "TempDir.h"
#include "WavFile.h"
#include "platform/NSBundle.h"
#include "EngineHarness.h"
#include "FilterDesignPool.h"
#include "ToneAnalysis.h"
#include "VoiceEngineState.h"

namespace {

std::vector<std::int16_t> speechLike() {
  std::vector<std::int16_t> signal(30000, 0);
  for (double hz : {110.0, 180.0, 95.0}) {
    const auto voice = tone::sawtooth(hz, 0.9, 7000);
    signal.insert(signal.end(), voice.begin(), voice.end());
    signal.resize(signal.size() + 90000, 0);
  }
  // One recording that runs into the full buffer.
  const auto longVoice = tone::sawtooth(150.0, 3.5, 7000);
  signal.insert(signal.end(), longVoice.begin(), longVoice.end());
  signal.resize(signal.size() + 150000, 0);
  return signal;
}

}  // namespace

TEST(CallbackAllocations, NoneOverCompleteRecordAndPlaybackCycles) {
  allocations::start();
  std::vector<std::int16_t> probe(3);
  ASSERT_GE(allocations::stop(), 1u) << "the counter must see ordinary allocations";

  EngineHarness engine;
  const auto signal = speechLike();
  std::vector<std::int16_t> out(1024);
  std::size_t recordings = 0;
  std::uint16_t lastMode = programMode;
  allocations::start();
  for (std::size_t at = 0; at + 1024 <= signal.size(); at += 1024) {
    engine.backend().runCycle(signal.data() + at, out.data(), 1024, 0.0);
    if (programMode == kModePlaying && lastMode != kModePlaying) ++recordings;
    lastMode = programMode;
  }
  const std::size_t counted = allocations::stop();
  EXPECT_EQ(counted, 0u);
  EXPECT_EQ(recordings, 4u);
}

// The slowest tempo piles up four samples of output per sample of input while the buffer takes
// one block per cycle: the processor's largest backlog, in either of its two stage orders, at
// the overlay's extremes and the longest cycle.
TEST(CallbackAllocations, NoneForRecordingsThatFillTheBufferAtTheSlowestTempo) {
  for (const UInt32 frames : {1024u, 3072u}) {
    for (const float pitch : {0.25f, 0.5f, 3.0f, 4.0f}) {
      EngineHarness engine(frames);
      quibblePitch = pitch;
      quibbleTimeStretch = 0.25f;
      const auto voice = tone::sawtooth(150.0, 3.5, 7000);
      std::vector<std::int16_t> out(frames);
      allocations::start();
      for (std::size_t at = 0; at + frames <= voice.size() && programMode != kModePlaying; at += frames) {
        engine.backend().runCycle(voice.data() + at, out.data(), frames, 0.0);
      }
      EXPECT_EQ(allocations::stop(), 0u) << "pitch " << pitch << ", " << frames << " frames";
      EXPECT_EQ(programMode, kModePlaying);
      EXPECT_EQ(playbackEnd, kPlaybackFillLimit);
    }
  }
}

// A new pitch makes the library redesign its anti-alias filter (even with the filter off); the
// cycle that applies it takes the arrays from the filter design pool. Every voice the app can
// set (the four characters, the tuning overlay's extremes), reached by a change of the pitch, of
// the tempo or of both, in every mode of the engine and at the shortest and longest cycles.
TEST(CallbackAllocations, NoneInTheCyclesThatApplyAVoiceChange) {
  const float voices[][2] = {{2.0f, 1.0f},  {1.6f, 1.3f}, {2.5f, 1.0f},  {2.0f, 2.0f},
                             {0.25f, 0.25f}, {4.0f, 4.0f}, {0.25f, 4.0f}, {4.0f, 0.25f}};
  enum Change { kPitch, kTempo, kBoth };
  const auto signal = speechLike();
  for (const UInt32 frames : {256u, 1024u, 3072u}) {
    EngineHarness engine(frames);
    const std::size_t poolBefore = filterpool::blocksInUse();
    const std::size_t fallbacksBefore = filterpool::heapFallbacks();
    std::vector<std::int16_t> out(frames);
    std::size_t changes = 0;
    std::size_t cycle = 0;
    bool modes[6] = {};
    for (std::size_t at = 0; at + frames <= signal.size(); at += frames, ++cycle) {
      if (cycle % 3 == 0) {
        const auto& voice = voices[changes % std::size(voices)];
        const auto change = static_cast<Change>(changes / std::size(voices) % 3);
        if (change != kTempo) quibblePitch = voice[0];
        if (change != kPitch) quibbleTimeStretch = voice[1];
        ++changes;
        modes[programMode] = true;
      }
      allocations::start();
      engine.backend().runCycle(signal.data() + at, out.data(), frames, 0.0);
      const std::size_t counted = allocations::stop();
      EXPECT_EQ(counted, 0u) << frames << " frames, cycle " << cycle << ", pitch " << quibblePitch
                             << ", tempo " << quibbleTimeStretch;
    }
    EXPECT_GE(changes, 3 * std::size(voices)) << "every voice by every kind of change";
    EXPECT_TRUE(modes[kModeListening] && modes[kModeRecording] && modes[kModePlaying]);
    EXPECT_EQ(filterpool::heapFallbacks(), fallbacksBefore);
    EXPECT_EQ(filterpool::blocksInUse(), poolBefore) << "redesigns give their blocks back";
    quibblePitch = 2.0f;
    quibbleTimeStretch = 1.0f;
  }
}

namespace {
// The live back end with its device left out: the stream callback is driven by the test.
class DevicelessRtAudio : public platform::RtAudioBackend {
 public:
  DevicelessRtAudio() : RtAudioBackend(std::nullopt, std::nullopt) {}

 protected:
  OSStatus deviceOpen() override { return 0; }
  OSStatus deviceStart() override { return 0; }
  void deviceStop() override {}
  void deviceClose() override {}
};
}  // namespace

TEST(CallbackAllocations, NoneThroughTheLiveBackEndsStreamCallback) {
  resetVoiceEngineState();
  auto device = std::make_shared<DevicelessRtAudio>();
  platform::setAudioBackend(device);
  PuppetAppDelegateAudio().initializeAudio();
  AudioOutputUnitStart(audioUnit);
  const auto signal = speechLike();
  std::vector<std::int16_t> out(1024);
  std::vector<std::int16_t> in(1024);
  allocations::start();
  for (std::size_t at = 0; at + 1024 <= signal.size(); at += 1024) {
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(at), 1024, in.begin());
    platform::RtAudioBackend::streamCallback(out.data(), in.data(), 1024, 0.0, 0, device.get());
  }
  EXPECT_EQ(allocations::stop(), 0u);
  EXPECT_GT(device->cyclesRun(), 400u);
  AudioOutputUnitStop(audioUnit);
  audioUnit = nullptr;
  platform::setAudioBackend(nullptr);
}

TEST(CallbackAllocations, NoneOverGreetings) {
  TempDir dir;
  const std::string kept = NSBundle::mainBundle().resourcePath();
  NSBundle::mainBundle().setResourcePath(dir.path().string());
  ASSERT_EQ(platform::writeMonoWav16(dir.file("greeting01.wav"), tone::sawtooth(140.0, 1.2, 6000)), "");
  resetVoiceEngineState();
  PuppetAppDelegateAudio delegate;
  delegate.loadGreeting();
  {
    EngineHarness engine(1024, true);
    ASSERT_EQ(programMode, kModeGreeting);
    std::vector<std::int16_t> quiet(1024, 0);
    std::vector<std::int16_t> out(1024);
    allocations::start();
    // The greeting at set-up to its end, then one cut short from listening (clip reloaded).
    for (int i = 0; i < 120; ++i) engine.backend().runCycle(quiet.data(), out.data(), 1024, 0.0);
    std::size_t counted = allocations::stop();
    EXPECT_EQ(programMode, kModeListening);
    EXPECT_EQ(greetingIsLoaded, 0);
    delegate.loadGreeting();  // main thread, between cycles
    quibbleTimeStretch = 1.5f;
    allocations::start();
    for (int i = 0; i < 120; ++i) engine.backend().runCycle(quiet.data(), out.data(), 1024, 0.0);
    counted += allocations::stop();
    EXPECT_EQ(counted, 0u);
    EXPECT_EQ(greetingIsLoaded, 1) << "the second greeting was cut short";
  }
  NSBundle::mainBundle().setResourcePath(kept);
}

// The program's operator new inside a design scope: pool blocks while there are any, then the
// heap, counted; delete gives the blocks back.
TEST(FilterDesignOperators, ServeThePoolThenTheHeapInsideAScope) {
  const std::size_t inUse = filterpool::blocksInUse();  // the processor's filter
  const std::size_t fallbacks = filterpool::heapFallbacks();
  std::vector<float*> arrays;
  arrays.reserve(filterpool::kBlocks + 1);
  {
    filterpool::Scope designs;
    for (std::size_t i = inUse; i <= filterpool::kBlocks; ++i) arrays.push_back(new float[128]);
  }
  EXPECT_EQ(filterpool::blocksInUse(), filterpool::kBlocks);
  EXPECT_EQ(filterpool::heapFallbacks(), fallbacks + 1) << "the request past the last block";
  for (float* array : arrays) delete[] array;
  EXPECT_EQ(filterpool::blocksInUse(), inUse);
}

TEST(FilterDesignOperators, CallTheNewHandlerWhenTheHeapRefuses) {
  static int calls = 0;
  std::set_new_handler([] {
    ++calls;
    std::set_new_handler(nullptr);  // the second refusal throws
  });
  volatile std::size_t impossible = std::numeric_limits<std::size_t>::max() / 2;
  EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
  EXPECT_EQ(calls, 1);
}
