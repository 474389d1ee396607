#include <gtest/gtest.h>

#include "AudioCallbacks.h"
#include "EngineHarness.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"

namespace {

// Starts a recording with two loud blocks; returns after the second (mode 1).
void startRecording(EngineHarness& engine, std::int16_t level = 2000) {
  engine.cycleAtLevel(level);
  engine.cycleAtLevel(level);
  ASSERT_EQ(programMode, kModeRecording);
}

}  // namespace

TEST(CaptureThresholds, LevelEqualToEachThresholdIsLoudWhileListeningAndQuietWhileRecording) {
  EngineHarness engine;
  engine.cycleAtLevel(315);
  EXPECT_EQ(monitoringCounter, 1);
  EXPECT_EQ(programMode, kModeListening);
  engine.cycleAtLevel(315);
  EXPECT_EQ(programMode, kModeRecording) << "two blocks at the monitoring threshold start a recording";

  // While recording, a block at the recording threshold is not speech, the starting block
  // included: with 10 more the count is 11 and the recording goes on; the 12th would end it.
  EXPECT_EQ(recordingCounter, 1);
  for (int i = 0; i < 10; ++i) engine.cycleAtLevel(315);
  EXPECT_EQ(recordingCounter, 11);
  EXPECT_EQ(programMode, kModeRecording);
  engine.cycleAtLevel(316);
  EXPECT_EQ(recordingCounter, 0) << "a block above the threshold is speech";
  for (int i = 0; i < 12; ++i) engine.cycleAtLevel(315);
  EXPECT_EQ(programMode, kModePlaying);
}

TEST(CaptureLevels, RunningLevelRisesByOneSixtyFourthAndFallsByOneEighth) {
  EngineHarness engine;
  ASSERT_EQ(averageLevelRunning, 20);
  engine.cycleAtLevel(100);
  EXPECT_EQ(averageLevel, 100);
  EXPECT_EQ(averageLevelRunning, 21);  // (20*63 + 100) / 64
  engine.cycleAtLevel(0);
  EXPECT_EQ(averageLevel, 0);
  EXPECT_EQ(averageLevelRunning, 18);  // (21*7 + 0) / 8
  engine.cycleAtLevel(18);
  EXPECT_EQ(averageLevelRunning, 18) << "a level equal to the running value leaves it unchanged";
}

TEST(CaptureLevels, LevelIsTheMeanAbsoluteValueWithMinus32768CountedFull) {
  EngineHarness engine;
  std::vector<std::int16_t> block(engine.frames(), 0);
  block[0] = -32768;
  block[1] = 32767;
  block[2] = 3;  // sum 65538 over 1024 samples: 64 with the remainder dropped
  engine.cycle(block);
  EXPECT_EQ(averageLevel, 64);
  std::vector<std::int16_t> full(engine.frames(), -32768);
  engine.cycle(full);
  EXPECT_EQ(averageLevel, 32768);
}

TEST(CaptureStart, SingleLoudBlockDoesNotStartARecordingAndLoudBlocksKeepTheGreetingCount) {
  EngineHarness engine;
  engine.cycleAtLevel(0);
  engine.cycleAtLevel(0);
  EXPECT_EQ(greetingCounter, 2);
  engine.cycleAtLevel(5000);
  EXPECT_EQ(monitoringCounter, 1);
  EXPECT_EQ(greetingCounter, 2) << "a loud block does not reset the quiet count";
  engine.cycleAtLevel(10);
  EXPECT_EQ(monitoringCounter, 0);
  EXPECT_EQ(greetingCounter, 3);
  engine.cycleAtLevel(5000);
  EXPECT_EQ(programMode, kModeListening);
}

TEST(CaptureStart, RecordingStartResetsBufferAndPeakAndSkipsTheFirstLoudBlock) {
  EngineHarness engine;
  playbackEnd = 0;
  maxRecordingLevels = 777;
  engine.cycleAtLevel(3000);
  EXPECT_EQ(maxRecordingLevels, 777) << "nothing is recorded while listening";
  engine.cycleAtLevel(2000);
  EXPECT_EQ(programMode, kModeRecording);
  EXPECT_EQ(monitoringCounter, 0);
  EXPECT_EQ(maxRecordingLevels, 2000) << "reset at the start, then raised by the second block only";
  EXPECT_EQ(soundTouch.numUnprocessedSamples() + playbackEnd, engine.frames())
      << "exactly one block went into the processor";
  // Twelve quiet blocks end it. The processor gives back exactly what it was given, so the
  // buffer holds the second loud block and the twelve quiet ones: the first loud one is lost.
  for (int i = 0; i < 12; ++i) engine.cycleAtLevel(0);
  EXPECT_EQ(programMode, kModePlaying);
  EXPECT_EQ(playbackEnd, 13u * engine.frames());
  EXPECT_EQ(playbackOffset, engine.frames()) << "playback began in the cycle that ended the recording";
  EXPECT_EQ(soundTouch.numUnprocessedSamples(), 0u) << "cleared after the flush";
}

TEST(CaptureRoom, RecordingThatNeverFallsSilentFillsTheBufferToItsLastSlotButOne) {
  EngineHarness engine;
  bigPlaybackBuffer[kPlaybackFillLimit] = 12345;
  startRecording(engine);
  std::uint32_t lastEnd = 0;
  int cycles = 0;
  while (programMode == kModeRecording && cycles < 1000) {
    lastEnd = playbackEnd;
    engine.cycleAtLevel(2000);
    ++cycles;
  }
  // 131276 + 1024 > 132299: the cycle that finds playbackEnd above 131275 drops its block and
  // flushes into the 203 samples of room left.
  EXPECT_EQ(lastEnd, 132096u);
  EXPECT_GT(lastEnd + 1024, kPlaybackFillLimit);
  EXPECT_EQ(programMode, kModePlaying);
  EXPECT_EQ(playbackEnd, kPlaybackFillLimit);
  EXPECT_EQ(bigPlaybackBuffer[kPlaybackFillLimit], 12345) << "the last slot is never written";
  EXPECT_EQ(soundTouch.numUnprocessedSamples(), 0u);
}

TEST(CaptureRoom, RoomTestUsesTheCycleLengthEvenWhenTheBufferHasRoomForSomeSamples) {
  EngineHarness engine(512);
  startRecording(engine);
  playbackEnd = kPlaybackFillLimit - 511;  // 511 free: not enough for a 512-sample cycle
  engine.cycleAtLevel(2000);
  EXPECT_EQ(programMode, kModePlaying);
  // The processor held the recorded 512-sample block; its flush fills the 511 free slots.
  EXPECT_EQ(playbackEnd, kPlaybackFillLimit);
}

TEST(CaptureModes, NothingButTheProcessorRefreshHappensWhilePlayingBack) {
  EngineHarness engine;
  programMode = kModePlaying;
  playbackEnd = 100000;
  playbackOffset = 0;
  averageLevelRunning = 55;
  recordingCallback(nullptr, nullptr, nullptr, 1, engine.frames(), nullptr);
  EXPECT_EQ(programMode, kModePlaying);
  EXPECT_EQ(averageLevelRunning, 55);
  EXPECT_EQ(playbackEnd, 100000u);
  EXPECT_EQ(soundTouch.numUnprocessedSamples(), 0u);
}

TEST(CaptureFaults, BlockLargerThanTheCaptureBufferIsSkippedNotWritten) {
  EngineHarness engine;
  AudioBufferList* list = audioBufferList;
  auto* data = static_cast<std::int16_t*>(list->mBuffers[0].mData);
  // A neighbour of the capture data the callback must not reach: shrink the declared size.
  list->mBuffers[0].mDataByteSize = 1024 * 2;
  data[1024] = 4321;
  std::vector<std::int16_t> loud = EngineHarness::blockAtLevel(3000, 2048);
  std::vector<std::int16_t> out(2048);
  // Straight to the callback, bypassing the back end's splitting.
  engine.backend().runCycle(loud.data(), out.data(), 1024, 0.0);  // a normal cycle first
  const auto levelBefore = averageLevel.load();
  recordingCallback(nullptr, nullptr, nullptr, 1, 2048, nullptr);
  EXPECT_EQ(data[1024], 4321);
  EXPECT_EQ(averageLevel, levelBefore);
  EXPECT_EQ(monitoringCounter, 1) << "the oversized block counted for nothing";
  list->mBuffers[0].mDataByteSize = kCaptureBufferBytes;
}

TEST(CaptureFaults, BackEndSplitsBlocksLongerThanTheCaptureBuffer) {
  EngineHarness engine(8000);
  const auto before = engine.backend().cyclesRun();
  engine.cycleAtLevel(3000);  // 8000 frames: 3072 + 3072 + 1856
  EXPECT_EQ(engine.backend().cyclesRun() - before, 3u);
  EXPECT_EQ(programMode, kModeRecording) << "two loud pieces start a recording";
}

TEST(CaptureFaults, MissingCaptureBufferIsNeverTouched) {
  EngineHarness engine;
  AudioBufferList* kept = audioBufferList;
  audioBufferList = nullptr;
  for (int i = 0; i < 5; ++i) engine.cycleAtLevel(5000);
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_EQ(monitoringCounter, 0);
  audioBufferList = kept;
}

TEST(CaptureProcessor, PitchAndTempoReachTheProcessorAtTheNextCycle) {
  EngineHarness engine;
  quibbleTimeStretch = 2.0f;  // twice as fast: half as many samples out
  startRecording(engine, 3000);
  for (int i = 0; i < 40; ++i) engine.cycleAtLevel(3000);
  for (int i = 0; i < 12; ++i) engine.cycleAtLevel(0);
  ASSERT_EQ(programMode, kModePlaying);
  const double recorded = 53.0 * engine.frames();
  EXPECT_NEAR(playbackEnd / recorded, 0.5, 0.02);
}

TEST(CaptureMute, AMutedMicrophoneIsHeardAsSilenceUntilSwitchedBackOn) {
  EngineHarness engine;
  engine.backend().setInputMuted(true);
  engine.cycleAtLevel(3000);
  engine.cycleAtLevel(3000);
  EXPECT_EQ(averageLevel, 0);
  EXPECT_EQ(programMode, kModeListening) << "loud blocks start nothing while muted";
  engine.backend().setInputMuted(false);
  engine.cycleAtLevel(3000);
  engine.cycleAtLevel(3000);
  EXPECT_EQ(programMode, kModeRecording);
}
