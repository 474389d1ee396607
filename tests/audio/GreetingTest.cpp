// The greeting clip: loading, playing through the processor, and every way a greeting ends.
#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "PuppetAppDelegateAudio.h"
#include "RawWav.h"
#include "SoundTouchProcessor.h"
#include "TempDir.h"
#include "ToneAnalysis.h"
#include "VoiceEngineState.h"
#include "WavFile.h"
#include "platform/AudioFile.h"
#include "platform/Log.h"
#include "platform/NSBundle.h"

namespace {

// A resources folder holding greeting01.wav with the given samples (none: no clip at all).
class GreetingClip {
 public:
  explicit GreetingClip(const std::vector<std::int16_t>* samples) {
    kept_ = NSBundle::mainBundle().resourcePath();
    NSBundle::mainBundle().setResourcePath(dir_.path().string());
    if (samples) {
      EXPECT_EQ(platform::writeMonoWav16(dir_.file("greeting01.wav"), *samples), "");
    }
  }
  ~GreetingClip() { NSBundle::mainBundle().setResourcePath(kept_); }
  std::string path() const { return dir_.file("greeting01.wav"); }

 private:
  TempDir dir_;
  std::string kept_;
};

std::vector<std::int16_t> voice(double seconds) {
  auto v = tone::sawtooth(130.0, seconds, 6000);
  return v;
}

// Runs quiet cycles until the engine leaves the greeting (at most `limit`); the output.
std::vector<std::int16_t> untilGreetingEnds(EngineHarness& engine, int limit = 400) {
  std::vector<std::int16_t> out;
  for (int i = 0; i < limit && programMode == kModeGreeting; ++i) {
    const auto block = engine.cycleAtLevel(0);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

}  // namespace

TEST(Greeting, LoadingWhileLoadedChangesNothing) {
  const auto clip = voice(0.5);
  GreetingClip resources(&clip);
  resetVoiceEngineState();
  PuppetAppDelegateAudio delegate;
  delegate.loadGreeting();
  ASSERT_EQ(greetingIsLoaded, 1);
  const AudioFileID handle = greetingFileID;
  ASSERT_NE(handle, nullptr);
  greetingPlayBackOffset = 500;
  greetingCounter = 9;
  delegate.loadGreeting();
  EXPECT_EQ(greetingFileID.load(), handle);
  EXPECT_EQ(greetingPlayBackOffset, 500u);
  EXPECT_EQ(greetingCounter, 9);
  AudioFileClose(handle);
  greetingFileID = nullptr;
}

TEST(Greeting, ArmedBeforeSetUpPlaysAtOnceAnOctaveUpAndEndsWhenPlaybackCatchesUp) {
  const auto clip = voice(1.5);
  GreetingClip resources(&clip);
  resetVoiceEngineState();
  PuppetAppDelegateAudio().loadGreeting();
  EngineHarness engine(1024, true);
  ASSERT_EQ(programMode, kModeGreeting);
  const auto out = untilGreetingEnds(engine);
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_EQ(greetingIsLoaded, 0) << "the clip was read to its end";
  EXPECT_NE(greetingFileID.load(), nullptr) << "and stays open";
  EXPECT_GT(soundTouch.numUnprocessedSamples(), 0u)
      << "ended by playback catching up (the processor is not cleared then)";
  const auto heard = tone::findSegments(out, 300);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_NEAR(tone::medianPitch(out, heard[0].begin, heard[0].end) / 130.0, 2.0, 0.04);
  // All of the clip but what the processor still held when playback caught up.
  EXPECT_GT(heard[0].seconds(), 1.5 - 0.15);
  EXPECT_LT(heard[0].seconds(), 1.5);
}

TEST(Greeting, ReloadAfterTheEndReopensTheClipAndTheNextGreetingPlaysItFromTheStart) {
  const auto clip = voice(0.6);
  GreetingClip resources(&clip);
  resetVoiceEngineState();
  PuppetAppDelegateAudio delegate;
  delegate.loadGreeting();
  EngineHarness engine(1024, true);
  untilGreetingEnds(engine);
  ASSERT_EQ(greetingIsLoaded, 0);
  engine.cycleAtLevel(0);
  engine.cycleAtLevel(0);
  EXPECT_EQ(programMode, kModeListening) << "no greeting without a loaded clip";
  greetingPlayBackOffset = 12345;
  delegate.loadGreeting();
  EXPECT_EQ(greetingIsLoaded, 1);
  EXPECT_EQ(greetingPlayBackOffset, 0u);
  EXPECT_EQ(greetingCounter, 0);
  ASSERT_NE(greetingFileID.load(), nullptr);
  EXPECT_EQ(AudioFilePacketCount(greetingFileID), static_cast<std::int64_t>(clip.size()));
  // Due at the third quiet block; its first cycle holds that microphone block, the next reads
  // the clip from its first sample.
  engine.cycleAtLevel(0);
  engine.cycleAtLevel(0);
  EXPECT_EQ(programMode, kModeListening);
  engine.cycleAtLevel(0);
  EXPECT_EQ(programMode, kModeGreeting);
  EXPECT_EQ(greetingPlayBackOffset, 0u);
  EXPECT_TRUE(greetingCounterMax == 1 || greetingCounterMax < 700);
  engine.cycleAtLevel(0);
  EXPECT_EQ(greetingPlayBackOffset, 1024u);
}

TEST(Greeting, CutShortByPlaybackCatchingUpStaysLoadedAndReplaysFromTheStart) {
  const auto clip = voice(2.0);
  GreetingClip resources(&clip);
  resetVoiceEngineState();
  quibbleTimeStretch = 1.5f;  // produced slower than played: playback catches up early
  PuppetAppDelegateAudio().loadGreeting();
  EngineHarness engine(1024, true);
  untilGreetingEnds(engine);
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_EQ(greetingIsLoaded, 1);
  EXPECT_EQ(greetingPlayBackOffset, 0u);
  for (int i = 0; i < 3; ++i) engine.cycleAtLevel(0);
  ASSERT_EQ(programMode, kModeGreeting);
  engine.cycleAtLevel(0);
  EXPECT_EQ(greetingPlayBackOffset, 1024u) << "read again from the first sample";
}

TEST(Greeting, ClipThatYieldsTooLittleEndsAtOnceInsteadOfLeavingTheEngineDeaf) {
  const auto shortClip = voice(0.05);  // shorter than the processor's latency
  std::vector<std::int16_t> nothing;
  struct Case {
    const char* what;
    const std::vector<std::int16_t>* samples;
  };
  for (const Case c : {Case{"short clip", &shortClip}, Case{"missing clip", nullptr},
                       Case{"empty clip", &nothing}}) {
    GreetingClip resources(c.samples);
    // Armed before set-up, and armed later and started from listening.
    for (const bool beforeSetUp : {true, false}) {
      resetVoiceEngineState();
      if (beforeSetUp) PuppetAppDelegateAudio().loadGreeting();
      EngineHarness engine(1024, beforeSetUp);
      if (!beforeSetUp) {
        PuppetAppDelegateAudio().loadGreeting();
        for (int i = 0; i < 3; ++i) engine.cycleAtLevel(0);
      }
      ASSERT_EQ(programMode, kModeGreeting) << c.what;
      untilGreetingEnds(engine, 5);
      EXPECT_EQ(programMode, kModeListening) << c.what << (beforeSetUp ? " before set-up" : " later");
      EXPECT_EQ(soundTouch.numUnprocessedSamples(), 0u) << "cleared";
      engine.cycleAtLevel(3000);
      engine.cycleAtLevel(3000);
      EXPECT_EQ(programMode, kModeRecording) << c.what << ": listening again";
    }
  }
}

TEST(Greeting, ClipInAnotherFormatFailsToOpenWithOneLogLine) {
  GreetingClip resources(nullptr);
  // 8-bit: libsndfile would open it; the reader must refuse it.
  ASSERT_TRUE(writeRawPcmWav(resources.path(), 1, 8, 44100, std::vector<std::uint8_t>(100, 200)));
  resetVoiceEngineState();
  platform::LogCapture log;
  PuppetAppDelegateAudio().loadGreeting();
  EXPECT_EQ(greetingIsLoaded, 1) << "armed whatever the outcome";
  EXPECT_EQ(greetingFileID.load(), nullptr);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_TRUE(log.contains("greeting01.wav"));
  EXPECT_TRUE(log.contains("8-bit")) << log.lines()[0];
}

TEST(Greeting, TheBundledClipIsInTheEngineFormatAndShortEnoughToPlayWhileProduced) {
  const auto clip = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/greeting01.wav");
  ASSERT_TRUE(clip.ok()) << clip.error;
  EXPECT_GT(clip.samples.size(), 44100u);
  // With the microphone block ahead of it, it must fit the playback buffer: a greeting that
  // fills it is finished like a recording and played once more from its start.
  EXPECT_LT(clip.samples.size() + 2 * 1024, kPlaybackFillLimit);
}
