#include "AppHost.h"

#include <cstdio>

#include "EngineRandom.h"
#include "PuppetAppDelegate.h"
#include "RtAudioBackend.h"

const char* const kTryOffline =
    "answer a recording instead: quibblers --mic FILE.wav --video OUT.mp4 --speaker OUT.wav";

int exitStatus(RunFailure failure) {
  switch (failure) {
    case RunFailure::kBadInputOrOutput: return 1;
    case RunFailure::kUsage: return 2;
    case RunFailure::kNoDisplayOrSound: return 3;  // scripts/run's cue to answer the sample
  }
  return 1;
}

int reportFailure(RunFailure failure, const std::string& what) {
  std::fprintf(stderr, "quibblers: %s\n", what.c_str());
  return exitStatus(failure);
}

std::shared_ptr<platform::RtAudioBackend> probeLiveAudio(const LaunchOptions& options) {
  auto device = std::make_shared<platform::RtAudioBackend>(options.inputDevice, options.outputDevice);
  if (const std::string why = device->probe(); !why.empty()) {
    // A sound server that is there but has no device yet is waited on, not given up.
    if (!device->canWait()) {
      reportFailure(RunFailure::kNoDisplayOrSound, why + "; " + kTryOffline);
      return nullptr;
    }
    device->waitForDevices(why);
  }
  seedEngineRandom(freshRandomSeed());
  return device;
}

InstalledAudio::InstalledAudio(std::shared_ptr<platform::AudioBackend> backend) {
  platform::setAudioBackend(std::move(backend));
}

InstalledAudio::~InstalledAudio() { platform::setAudioBackend(nullptr); }

void runApp(const LaunchOptions& options, const AppViews& views,
            const std::function<void(UIApplication&)>& afterLaunch) {
  PuppetAppDelegate delegate;
  delegate.setAnalyticsEnabled(!options.noAnalytics);
  delegate.setWindow(views.window);
  delegate.setGlView(views.glView);
  if (options.greeting) delegate.loadGreeting();
  // Launch, the run loop and termination (analytics ended, then audio stopped) are the
  // delegate's, in UIApplicationMain.
  UIApplicationMain(delegate, afterLaunch);
}
