#include "AppHost.h"

#include <cstdio>

#include "EngineRandom.h"
#include "PuppetAppDelegate.h"

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

std::optional<platform::LiveSound> probeLiveAudio(const LaunchOptions& options, int& status) {
  auto sound = platform::openLiveSound(options.inputDevice, options.outputDevice);
  if (!sound) {
    const bool moduleMissing = sound.error().cause == platform::Cause::kModuleMissing;
    status = reportFailure(moduleMissing ? RunFailure::kBadInputOrOutput : RunFailure::kNoDisplayOrSound,
                           sound.message() + "; " + kTryOffline);
    return std::nullopt;
  }
  seedEngineRandom(freshRandomSeed());
  return std::move(*sound);
}

InstalledAudio::InstalledAudio(std::shared_ptr<platform::AudioBackend> backend) {
  platform::setAudioBackend(std::move(backend));
}

InstalledAudio::~InstalledAudio() { platform::setAudioBackend(nullptr); }

void runApp(const LaunchOptions& options, const AppViews& views,
            const std::function<void(UIApplication&)>& afterLaunch, bool realTimeWarmUp) {
  PuppetAppDelegate delegate;
  delegate.setAnalyticsEnabled(!options.noAnalytics);
  delegate.setRealTimeWarmUp(realTimeWarmUp);
  delegate.setWindow(views.window);
  delegate.setGlView(views.glView);
  if (options.greeting) delegate.loadGreeting();
  // Launch, the run loop and termination (analytics ended, then audio stopped) are the
  // delegate's, in UIApplicationMain.
  UIApplicationMain(delegate, afterLaunch);
}
