// The application lifecycle on the offline device and on a recording back end, with the real
// character view and analytics in a temporary data folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <memory>

#include "Beacon.h"
#include "MainInterface.h"
#include "OfflineAudioBackend.h"
#include "PuppetAppDelegate.h"
#include "RecordingAudioBackend.h"
#include "TempDir.h"
#include "VoiceEngineState.h"
#include "platform/RunLoop.h"

namespace {

// One second of a loud 110 Hz sawtooth between silences: one utterance.
std::vector<std::int16_t> utterance() {
  std::vector<std::int16_t> samples(44100 * 4, 0);
  for (int i = 0; i < 44100; ++i) {
    const double phase = std::fmod(i * 110.0 / 44100.0, 1.0);
    samples[44100 / 2 + i] = static_cast<std::int16_t>((phase * 2 - 1) * 8000);
  }
  return samples;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    // Nothing listens there: uploads fail at once and the sessions stay stored.
    Beacon::setCollectionServer("127.0.0.1:9");
    resetVoiceEngineState();
    loop.useVirtualTime();
  }
  void TearDown() override {
    Beacon::releaseShared();
    platform::setAudioBackend(nullptr);
    resetVoiceEngineState();
  }

  TempDir data;
  platform::RunLoop& loop = platform::RunLoop::main();
};

}  // namespace

TEST_F(Lifecycle, ResigningActiveMidPlaybackPausesEverythingAndResumesWhereItStopped) {
  auto device = std::make_shared<platform::OfflineAudioBackend>(utterance(), 1024, loop);
  platform::setAudioBackend(device);
  std::string error;
  auto ui = MainInterface::load(false, false, error);
  ASSERT_TRUE(ui) << error;
  PuppetAppDelegate delegate;
  delegate.setWindow(ui->window);
  delegate.setGlView(ui->glView);
  UIApplication app(&delegate);
  delegate.applicationDidFinishLaunching(&app);
  delegate.applicationDidBecomeActive(&app);
  EXPECT_TRUE(app.isStatusBarHidden());
  EXPECT_DOUBLE_EQ(ui->glView->animationInterval(), 1.0 / 24);

  ASSERT_TRUE(loop.runUntil([] { return programMode == kModePlaying && playbackOffset >= 8192; }, 10.0));
  delegate.applicationWillResignActive(&app);
  EXPECT_DOUBLE_EQ(ui->glView->animationInterval(), 1.0);
  const std::uint32_t offset = playbackOffset;
  const std::uint32_t end = playbackEnd;
  const std::uint16_t level = maxRecordingLevels;
  const std::size_t played = device->speakerOutput().size();
  const std::uint64_t presents = ui->glView->eaglLayer().presentCount();

  loop.runUntil([] { return false; }, 3.0);
  EXPECT_EQ(programMode, kModePlaying);
  EXPECT_EQ(playbackOffset, offset);
  EXPECT_EQ(playbackEnd, end);
  EXPECT_EQ(maxRecordingLevels, level);
  EXPECT_EQ(device->speakerOutput().size(), played) << "no audio cycle runs while inactive";
  const std::uint64_t inactiveTicks = ui->glView->eaglLayer().presentCount() - presents;
  EXPECT_GE(inactiveTicks, 2u);
  EXPECT_LE(inactiveTicks, 4u) << "the character keeps drawing, once a second";

  delegate.applicationDidBecomeActive(&app);
  EXPECT_DOUBLE_EQ(ui->glView->animationInterval(), 1.0 / 24);
  ASSERT_TRUE(loop.runUntil([&] { return device->speakerOutput().size() > played; }, 1.0));
  EXPECT_EQ(playbackOffset, offset + 1024) << "playback resumes from the same sample";
  ASSERT_TRUE(loop.runUntil([] { return programMode == kModeListening; }, 10.0));
  delegate.applicationWillTerminate(&app);
}

namespace {
// Notes whether the analytics session was still open when the audio unit stopped.
class TerminationProbe : public RecordingAudioBackend {
 public:
  using RecordingAudioBackend::RecordingAudioBackend;
  OSStatus unitStop() override {
    sessionOpenAtStop.push_back(Beacon::shared()->isBeaconStarted());
    return RecordingAudioBackend::unitStop();
  }
  std::vector<bool> sessionOpenAtStop;
};
}  // namespace

TEST_F(Lifecycle, TerminationEndsTheAnalyticsSessionBeforeTheAudioStops) {
  auto device = std::make_shared<TerminationProbe>(loop);
  platform::setAudioBackend(device);
  PuppetAppDelegate delegate;  // no view: audio and analytics only
  UIApplication app(&delegate);
  delegate.applicationDidFinishLaunching(&app);
  ASSERT_NE(Beacon::shared(), nullptr);
  EXPECT_TRUE(Beacon::shared()->isBeaconStarted());
  EXPECT_EQ(programMode, kModeListening);
  EXPECT_GE(device->indexOf("AudioOutputUnitStart"), 0);

  delegate.applicationWillResignActive(&app);
  ASSERT_EQ(device->sessionOpenAtStop.size(), 1u);
  EXPECT_TRUE(device->sessionOpenAtStop[0]) << "resigning active leaves the session open";
  delegate.applicationDidBecomeActive(&app);

  device->clearCalls();
  delegate.applicationWillTerminate(&app);
  ASSERT_GE(device->sessionOpenAtStop.size(), 2u);
  for (std::size_t i = 1; i < device->sessionOpenAtStop.size(); ++i) {
    EXPECT_FALSE(device->sessionOpenAtStop[i]) << "the session must be ended before the audio stops";
  }
  const int stop = device->indexOf("AudioOutputUnitStop");
  const int uninit = device->indexOf("AudioUnitUninitialize");
  const int inactive = device->indexOf("AudioSessionSetActive false");
  ASSERT_GE(stop, 0);
  EXPECT_LT(stop, uninit);
  EXPECT_LT(uninit, inactive);
}

TEST_F(Lifecycle, ApplicationMainSendsLaunchThenActiveAndTerminatesOnce) {
  struct Recorder : UIApplicationDelegate {
    std::vector<std::string> calls;
    void applicationDidFinishLaunching(UIApplication*) override { calls.push_back("launch"); }
    void applicationWillResignActive(UIApplication*) override { calls.push_back("resign"); }
    void applicationDidBecomeActive(UIApplication*) override { calls.push_back("active"); }
    void applicationWillTerminate(UIApplication*) override { calls.push_back("terminate"); }
  } recorder;
  UIApplicationMain(recorder, [&](UIApplication& app) {
    loop.addTimer(0.5, 0, [&app] {
      app.resignActive();
      app.resignActive();  // a second focus loss changes nothing
      app.becomeActive();
      app.terminate();
      app.terminate();
    });
  });
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"launch", "active", "resign", "active", "terminate"}));
  EXPECT_EQ(UIApplication::sharedApplication(), nullptr);
}
