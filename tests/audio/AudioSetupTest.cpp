// The app's audio set-up and session listeners against the recording test double.
#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "PuppetAppDelegateAudio.h"
#include "RecordingAudioBackend.h"
#include "VoiceEngineState.h"
#include "platform/RunLoop.h"

namespace {

// A fresh engine and test double, set up by the app.
struct AppAudio {
  std::shared_ptr<RecordingAudioBackend> backend = std::make_shared<RecordingAudioBackend>();
  PuppetAppDelegateAudio delegate;
  explicit AppAudio(const std::string& route = "SpeakerAndMicrophone") {
    resetVoiceEngineState();
    backend->setRoute(route);
    platform::setAudioBackend(backend);
    delegate.initializeAudio();
  }
  ~AppAudio() {
    AudioOutputUnitStop(audioUnit);
    audioUnit = nullptr;
    platform::setAudioBackend(nullptr);
  }
  // Runs what the back end has posted to the main run loop (the listeners).
  static void deliver() { platform::RunLoop::main().runOnce(0.0); }
};

}  // namespace

TEST(AudioSetUp, CallsTheSessionAndUnitInOrder) {
  AppAudio s;
  const std::vector<std::string> expected = {
      "AudioSessionInitialize",
      "AudioSessionSetProperty acat plar",
      "AudioSessionGetProperty rout",
      "AudioSessionAddPropertyListener roch",
      "AudioComponentInstanceNew",
      "AudioUnitSetProperty 2003 scope 1 element 1 = 1",
      "AudioUnitSetProperty 2003 scope 2 element 0 = 1",
      "AudioUnitSetProperty 8 scope 2 element 1 = 44100 lpcm 12 1ch 16bit",
      "AudioUnitSetProperty 8 scope 1 element 0 = 44100 lpcm 12 1ch 16bit",
      "AudioUnitSetProperty 2005 scope 0 element 1 = callback",
      "AudioUnitSetProperty 23 scope 0 element 0 = callback",
      "AudioUnitSetProperty 51 scope 2 element 1 = 0",
      "AudioUnitInitialize",
  };
  EXPECT_EQ(s.backend->calls(), expected);
  EXPECT_FALSE(s.backend->sessionActive()) << "activating the session is left to the caller";
  EXPECT_TRUE(s.backend->unitInitialized());
  EXPECT_FALSE(s.backend->unitRunning());
  EXPECT_EQ(s.backend->category(), kAudioSessionCategory_PlayAndRecord);
  EXPECT_EQ(programMode, kModeListening);
  ASSERT_NE(audioBufferList, nullptr);
  EXPECT_EQ(audioBufferList->mNumberBuffers, 1u);
  EXPECT_EQ(audioBufferList->mBuffers[0].mNumberChannels, 1u);
  EXPECT_EQ(audioBufferList->mBuffers[0].mDataByteSize, 6144u);
}

TEST(AudioSetUp, EarpieceRouteIsMovedToTheLoudspeakerBeforeTheUnitIsMade) {
  AppAudio s("ReceiverAndMicrophone");
  const int override = s.backend->indexOf("AudioSessionSetProperty ovrd spkr");
  ASSERT_GE(override, 0);
  EXPECT_EQ(override, s.backend->indexOf("AudioSessionGetProperty rout") + 1);
  EXPECT_LT(override, s.backend->indexOf("AudioComponentInstanceNew"));
  EXPECT_EQ(s.backend->routeOverride(), kAudioSessionOverrideAudioRoute_Speaker);
}

TEST(AudioSetUp, OtherRoutesAreLeftAlone) {
  for (const char* route : {"SpeakerAndMicrophone", "HeadsetInOut", "receiverandmicrophone", ""}) {
    AppAudio s(route);
    EXPECT_EQ(s.backend->indexOf("AudioSessionSetProperty ovrd"), -1) << route;
  }
}

TEST(AudioSetUp, CaptureBufferIsZeroedAndKeptAcrossSetUps) {
  AppAudio first;
  AudioBufferList* list = audioBufferList;
  static_cast<std::int16_t*>(list->mBuffers[0].mData)[100] = 55;
  AppAudio second;
  EXPECT_EQ(audioBufferList, list);
  EXPECT_EQ(static_cast<std::int16_t*>(list->mBuffers[0].mData)[100], 0);
}

TEST(RouteChange, ReturnToTheEarpieceReappliesTheOverrideAndNothingElseChangesAnything) {
  AppAudio s;
  s.backend->clearCalls();
  s.backend->changeRoute("HeadphonesAndMicrophone");
  AppAudio::deliver();
  EXPECT_EQ(s.backend->calls(), std::vector<std::string>{"AudioSessionGetProperty rout"});
  s.backend->clearCalls();
  s.backend->changeRoute("ReceiverAndMicrophone");
  AppAudio::deliver();
  EXPECT_EQ(s.backend->calls(), (std::vector<std::string>{"AudioSessionGetProperty rout",
                                                          "AudioSessionSetProperty ovrd spkr"}));
}

TEST(Interruption, BeginStopsAndDeactivatesEndRestoresWithoutCheckingTheRoute) {
  AppAudio s("ReceiverAndMicrophone");
  AudioSessionSetActive(true);
  AudioOutputUnitStart(audioUnit);
  s.backend->clearCalls();
  s.backend->interrupt(kAudioSessionBeginInterruption);
  AppAudio::deliver();
  EXPECT_EQ(s.backend->calls(), (std::vector<std::string>{"AudioOutputUnitStop", "AudioSessionSetActive false"}));
  EXPECT_FALSE(s.backend->unitRunning());
  s.backend->clearCalls();
  s.backend->interrupt(kAudioSessionEndInterruption);
  AppAudio::deliver();
  EXPECT_EQ(s.backend->calls(), (std::vector<std::string>{"AudioSessionSetProperty acat plar",
                                                          "AudioSessionSetActive true",
                                                          "AudioOutputUnitStart"}));
  EXPECT_TRUE(s.backend->unitRunning());
  EXPECT_TRUE(s.backend->sessionActive());
}

TEST(Interruption, OtherStatesAreIgnored) {
  AppAudio s;
  s.backend->clearCalls();
  for (UInt32 state : {2u, 7u, 0xffffffffu}) s.backend->interrupt(state);
  AppAudio::deliver();
  EXPECT_TRUE(s.backend->calls().empty());
}

TEST(Interruption, EngineStateIsUnchangedAcrossAnInterruption) {
  EngineHarness engine;
  engine.cycleAtLevel(3000);
  engine.cycleAtLevel(3000);
  for (int i = 0; i < 5; ++i) engine.cycleAtLevel(2500);
  ASSERT_EQ(programMode, kModeRecording);
  const auto snapshot = [] {
    return std::vector<std::uint32_t>{programMode, monitoringCounter, recordingCounter, playbackEnd,
                                      playbackOffset, averageLevel, averageLevelRunning,
                                      maxRecordingLevels, greetingCounter};
  };
  const auto before = snapshot();
  engine.backend().interrupt(kAudioSessionBeginInterruption);
  AppAudio::deliver();
  EXPECT_FALSE(engine.backend().unitRunning());
  engine.backend().interrupt(kAudioSessionEndInterruption);
  AppAudio::deliver();
  EXPECT_TRUE(engine.backend().unitRunning());
  EXPECT_EQ(snapshot(), before);
  // Recording carries on from where it was: 12 quiet blocks still end it.
  for (int i = 0; i < 12; ++i) engine.cycleAtLevel(0);
  EXPECT_EQ(programMode, kModePlaying);
}

TEST(AudioSetUp, StartsInTheGreetingWhenOneWasLoadedBeforeAndListeningOtherwise) {
  {
    AppAudio s;
    EXPECT_EQ(programMode, kModeListening);
  }
  resetVoiceEngineState();
  EXPECT_EQ(programMode, kModePlaybackFinished) << "the load-time mode until set-up";
  greetingIsLoaded = 1;
  auto backend = std::make_shared<RecordingAudioBackend>();
  platform::setAudioBackend(backend);
  PuppetAppDelegateAudio().initializeAudio();
  EXPECT_EQ(programMode, kModeGreeting);
  audioUnit = nullptr;
  platform::setAudioBackend(nullptr);
  resetVoiceEngineState();
}
