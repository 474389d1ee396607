// The callbacks on a real second thread while the main thread tunes the engine and reads its
// levels, as the app does: ThreadSanitizer checks that every shared variable is race-free.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "EngineHarness.h"
#include "PuppetAppDelegateAudio.h"
#include "TempDir.h"
#include "WavFile.h"
#include "platform/NSBundle.h"
#include "ToneAnalysis.h"
#include "VoiceEngineState.h"

TEST(EngineThreads, AudioThreadAndMainThreadShareTheEngineWithoutRaces) {
  EngineHarness engine;
  // Speech-like bursts: 0.6 s of voice, 0.9 s of quiet, repeated.
  const auto voice = tone::sawtooth(120.0, 0.6, 5000);
  std::vector<std::int16_t> signal;
  for (int i = 0; i < 4; ++i) {
    signal.insert(signal.end(), voice.begin(), voice.end());
    signal.resize(signal.size() + 60000, 0);
  }

  std::atomic<bool> done{false};
  std::atomic<std::size_t> heard{0};
  std::thread audio([&] {
    std::vector<std::int16_t> out(1024);
    for (std::size_t at = 0; at + 1024 <= signal.size(); at += 1024) {
      engine.backend().runCycle(signal.data() + at, out.data(), 1024, 0.0);
      for (auto s : out) heard.fetch_add(s != 0, std::memory_order_relaxed);
    }
    done = true;
  });

  std::uint32_t levels = 0;
  float pitch = 2.0f;
  while (!done) {
    pitch = pitch == 2.0f ? 1.9f : 2.0f;
    quibblePitch = pitch;
    quibbleTimeStretch = 1.0f;
    monitoringThreshold = 315;
    recordingThreshold = 315;
    gain = 1.0f;
    levels += averageLevel + maxRecordingLevels + averageLevelRunning;
    std::this_thread::yield();
  }
  audio.join();
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_GT(engine.backend().cyclesRun(), 200u);
  EXPECT_GT(heard.load(), 4u * 20000u) << "four answers were played";
  (void)levels;
}

// The main thread re-arms the greeting and changes the voice while the audio thread greets:
// every voice the audio thread takes was published whole, and re-armed greetings keep coming.
TEST(EngineThreads, VoicesAndGreetingClipsAreHandedOverWhileAudioRuns) {
  TempDir dir;
  const std::string kept = NSBundle::mainBundle().resourcePath();
  NSBundle::mainBundle().setResourcePath(dir.path().string());
  ASSERT_EQ(platform::writeMonoWav16(dir.file("greeting01.wav"), tone::sawtooth(140.0, 0.3, 6000)), "");
  constexpr Voice kVoices[] = {{2.0f, 1.0f, 1.0f}, {1.6f, 1.3f, 0.5f}, {2.5f, 0.8f, 2.0f}, {0.25f, 4.0f, 3.0f}};
  const auto published = [&](const Voice& v) {
    return std::any_of(std::begin(kVoices), std::end(kVoices), [&](const Voice& k) {
      return k.quibblePitch == v.quibblePitch && k.quibbleTimeStretch == v.quibbleTimeStretch && k.gain == v.gain;
    });
  };
  {
    EngineHarness engine;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> greetings{0};
    std::thread audio([&] {
      std::vector<std::int16_t> quiet(1024, 0);
      std::vector<std::int16_t> out(1024);
      std::uint16_t last = programMode;
      // On a busy machine the main thread may re-arm late: run on (bounded) until it has.
      for (int cycle = 0; cycle < 4000 || (greetings < 3 && cycle < 400000); ++cycle) {
        engine.backend().runCycle(quiet.data(), out.data(), 1024, 0.0);
        if (!published(voiceEngineState.voice.take())) ++torn;
        if (programMode == kModeGreeting && last != kModeGreeting) ++greetings;
        last = programMode;
      }
      done = true;
    });
    PuppetAppDelegateAudio delegate;
    for (std::size_t i = 0; !done; ++i) {
      setVoice(kVoices[i % std::size(kVoices)]);
      delegate.loadGreeting();  // does nothing while a clip is armed
      std::this_thread::yield();
    }
    audio.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GE(greetings.load(), 3);
  }
  NSBundle::mainBundle().setResourcePath(kept);
}
