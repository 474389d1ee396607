#include <gtest/gtest.h>

#include <numeric>

#include "AudioCallbacks.h"
#include "EngineHarness.h"
#include "VoiceEngineState.h"

namespace {

constexpr UInt32 kFrames = 1024;

// Two output buffers: the renderer writes the first; the second shows what it leaves alone.
struct Output {
  std::vector<std::int16_t> first = std::vector<std::int16_t>(kFrames, 7);
  std::vector<std::int16_t> second = std::vector<std::int16_t>(kFrames, 9);
  AudioBufferList list{1, {{1, kFrames * 2, first.data()}, {1, kFrames * 2, second.data()}}};
  OSStatus render() { return playbackCallback(nullptr, nullptr, nullptr, 0, kFrames, &list); }
};

void fillRecording(std::uint32_t samples) {
  for (std::uint32_t i = 0; i < samples; ++i) bigPlaybackBuffer[i] = static_cast<std::int16_t>(i % 1000 + 1);
  playbackEnd = samples;
  playbackOffset = 0;
  programMode = kModePlaying;
}

bool allZero(const std::vector<std::int16_t>& v, std::size_t from = 0) {
  return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from), v.end(), [](auto s) { return s == 0; });
}

}  // namespace

TEST(PlaybackSilence, EveryModeButPlayingClearsOnlyTheFirstBufferAndKeepsTheLevel) {
  resetVoiceEngineState();
  for (std::uint16_t mode : {kModeListening, kModeRecording, kModeFinishing}) {
    programMode = mode;
    playbackEnd = 5000;
    averageLevel = 123;
    Output out;
    EXPECT_EQ(out.render(), 0);
    EXPECT_TRUE(allZero(out.first)) << "mode " << mode;
    EXPECT_EQ(out.second[0], 9) << "mode " << mode;
    EXPECT_EQ(averageLevel, 123) << "mode " << mode;
    EXPECT_EQ(programMode, mode);
  }
}

TEST(PlaybackSilence, GreetingWaitsUntilMoreThanOneCycleIsProduced) {
  resetVoiceEngineState();
  fillRecording(kFrames);
  programMode = kModeGreeting;
  Output waiting;
  waiting.render();
  EXPECT_TRUE(allZero(waiting.first));
  EXPECT_EQ(playbackOffset, 0u);
  playbackEnd = kFrames + 1;
  Output playing;
  playing.render();
  EXPECT_EQ(playing.first[0], 1);
  EXPECT_EQ(playbackOffset, kFrames);
}

TEST(PlaybackSilence, LoadTimeModeThreeIsTurnedIntoListening) {
  resetVoiceEngineState();
  ASSERT_EQ(programMode, kModePlaybackFinished);
  Output out;
  out.render();
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_TRUE(allZero(out.first));
}

TEST(PlaybackBlocks, ExactlyKFullBuffersThenSilenceAndTheResets) {
  resetVoiceEngineState();
  fillRecording(3 * kFrames);
  for (int k = 0; k < 3; ++k) {
    Output out;
    out.render();
    EXPECT_EQ(out.first[0], static_cast<std::int16_t>((k * kFrames) % 1000 + 1));
    EXPECT_EQ(playbackOffset, (k + 1) * kFrames);
    EXPECT_EQ(programMode, kModePlaying);
    EXPECT_GT(averageLevel, 0);
  }
  greetingCounter = 40;
  greetingCounterSoundTouch = 3;
  greetingPlayBackOffset = 999;
  maxRecordingLevels = 4000;
  Output last;
  last.render();
  EXPECT_TRUE(allZero(last.first));
  EXPECT_EQ(averageLevel, 0);
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_EQ(playbackEnd, 0u);
  EXPECT_EQ(playbackOffset, 0u);
  EXPECT_EQ(maxRecordingLevels, 0);
  EXPECT_EQ(greetingCounter, 0);
  EXPECT_EQ(greetingCounterSoundTouch, 0);
  EXPECT_EQ(greetingPlayBackOffset, 0u);
}

TEST(PlaybackBlocks, PartialLastBlockIsPaddedAndTheNextCallEndsPlayback) {
  resetVoiceEngineState();
  fillRecording(kFrames + 100);
  Output first;
  first.render();
  Output partial;
  partial.render();
  EXPECT_EQ(partial.first[99], static_cast<std::int16_t>((kFrames + 99) % 1000 + 1));
  EXPECT_TRUE(allZero(partial.first, 100));
  EXPECT_EQ(programMode, kModePlaying) << "the end is found by the next call";
  // The level covers only the 100 samples that remain.
  std::uint32_t sum = 0;
  for (std::uint32_t i = kFrames; i < kFrames + 100; ++i) sum += static_cast<std::uint32_t>(bigPlaybackBuffer[i]);
  EXPECT_EQ(averageLevel, sum / 100);
  Output end;
  end.render();
  EXPECT_TRUE(allZero(end.first));
  EXPECT_EQ(programMode, kModeListening);
}

TEST(PlaybackBlocks, EmptyRecordingEndsAtTheFirstCall) {
  resetVoiceEngineState();
  fillRecording(0);
  averageLevel = 500;
  Output out;
  out.render();
  EXPECT_TRUE(allZero(out.first));
  EXPECT_EQ(averageLevel, 0);
  EXPECT_EQ(programMode, kModeListening);
}

TEST(PlaybackBlocks, SecondBufferContinuesWhereTheFirstStopped) {
  resetVoiceEngineState();
  fillRecording(kFrames + 10);
  Output out;
  out.list.mNumberBuffers = 2;
  out.render();
  EXPECT_EQ(out.second[0], static_cast<std::int16_t>(kFrames % 1000 + 1));
  EXPECT_TRUE(allZero(out.second, 10));
  EXPECT_EQ(playbackOffset, kFrames + 10);
}

TEST(PlaybackEngine, RecordingPlaysBlockByBlockAndTheEngineListensAgain) {
  EngineHarness engine;
  engine.cycleAtLevel(2000);
  engine.cycleAtLevel(2000);
  for (int i = 0; i < 12; ++i) engine.cycleAtLevel(0);
  ASSERT_EQ(programMode, kModePlaying);
  ASSERT_EQ(playbackEnd, 13 * kFrames);
  int cycles = 0;
  while (programMode == kModePlaying && cycles < 100) {
    engine.cycleAtLevel(9000);  // the microphone is ignored while playing
    ++cycles;
  }
  // The cycle that ended the recording played the first block; 12 more, then the call that
  // finds nothing left.
  EXPECT_EQ(cycles, 13);
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_EQ(monitoringCounter, 0) << "nothing was listened to while playing";
  engine.cycleAtLevel(9000);
  EXPECT_EQ(monitoringCounter, 1) << "listening again";
}
