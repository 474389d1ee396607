#include <gtest/gtest.h>

#include "VoiceEngineState.h"

TEST(VoiceEngineState, ResetRestoresEveryLoadTimeValue) {
  programMode = kModeRecording;
  quibblePitch = 1.6f;
  averageLevelRunning = 999;
  greetingCounter = 65535;
  greetingCounter += 1;  // wraps like the 16-bit variable it is
  EXPECT_EQ(greetingCounter, 0);
  bigPlaybackBuffer[132299] = 7;
  playbackEnd = 100;

  resetVoiceEngineState();
  EXPECT_EQ(programMode, kModePlaybackFinished);
  EXPECT_EQ(quibblePitch, 2.0f);
  EXPECT_EQ(quibbleTimeStretch, 1.0f);
  EXPECT_EQ(gain, 1.0f);
  EXPECT_EQ(monitoringThreshold, 315);
  EXPECT_EQ(recordingThreshold, 315);
  EXPECT_EQ(monitoringCounterMax, 2);
  EXPECT_EQ(recordingCounterMax, 12);
  EXPECT_EQ(greetingCounterMax, 2);
  EXPECT_EQ(averageLevelRunning, 20);
  EXPECT_EQ(st_sequenceMS, 45);
  EXPECT_EQ(st_seekWindowMS, 26);
  EXPECT_EQ(st_overlapMS, 5);
  EXPECT_EQ(st_aaFilterLength, 64);
  EXPECT_EQ(playbackEnd, 0u);
  EXPECT_EQ(bigPlaybackBuffer[132299], 0);
  EXPECT_EQ(greetingFileID.load(), nullptr);
  static_assert(sizeof(bigPlaybackBuffer) == 264600);
}
