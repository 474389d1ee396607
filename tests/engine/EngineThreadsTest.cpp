// The callbacks on a real second thread while the main thread tunes the engine and reads its
// levels, as the app does: ThreadSanitizer checks that every shared variable is race-free.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "EngineHarness.h"
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
