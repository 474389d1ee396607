#include "LiveRun.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "EAGLView.h"
#include "Beacon.h"
#include "EngineRandom.h"
#include "PuppetAppDelegate.h"
#include "RtAudioBackend.h"
#include "TerminationSignals.h"
#include "VoiceEngineState.h"
#include "platform/audio_unit.h"
#include "platform/runloop.h"

namespace {

const char* describeMode(std::uint16_t mode) {
  switch (mode) {
    case kModeListening: return "listening";
    case kModeRecording: return "recording";
    case kModeGreeting: return "greeting";
    default: return "answering";
  }
}

constexpr const char* kTryOffline =
    "answer a recording instead: quibblers --mic FILE.wav --speaker OUT.wav";

}  // namespace

// Listing nothing is an answer, not a failure.
int listDevices() {
  std::string why;
  const auto system = platform::findAudioSystem(&why);
  if (!system) {
    std::printf("no sound devices found (%s)\n", why.c_str());
    return 0;
  }
  std::fputs(platform::describeDevices(*system).c_str(), stdout);
  return 0;
}

int runLive(const LaunchOptions& options) {
  auto device = std::make_shared<platform::RtAudioBackend>(options.inputDevice, options.outputDevice);
  const std::string why = device->probe();
  if (!why.empty()) {
    if (!device->canWait()) {
      std::fprintf(stderr, "quibblers: %s; %s\n", why.c_str(), kTryOffline);
      return 1;
    }
    device->waitForDevices(why);
  }
  platform::setAudioBackend(device);
  seedEngineRandom(freshRandomSeed());

  if (options.character) useCharacterVoice(*options.character);
  PuppetAppDelegate delegate;
  delegate.setAnalyticsEnabled(!options.noAnalytics);
  if (options.greeting) delegate.loadGreeting();
  delegate.initializeAudio();
  if (!device->unitInitialized()) {
    // The back end has said why in its own line; this one is the way out.
    std::fprintf(stderr, "quibblers: no live sound; %s\n", kTryOffline);
    platform::setAudioBackend(nullptr);
    return 1;
  }
  AudioSessionSetActive(true);
  AudioOutputUnitStart(audioUnit);
  if (!device->interrupted()) {
    std::fprintf(stderr, "quibblers: listening on %s, answering on %s (%s); Ctrl-C stops\n",
                 device->inputName().c_str(), device->outputName().c_str(), device->apiName().c_str());
  }

  // A usage session like the window's: opened now, ended (and uploaded, up to 5 s) at the stop.
  if (delegate.analyticsEnabled()) {
    Beacon::initAndStartBeaconWithApplicationCode(PuppetAppDelegate::kAnalyticsApplicationCode, false, false);
  }

  platform::RunLoop& loop = platform::RunLoop::main();
  TerminationSignals signals(loop, [&loop] { loop.stop(); });
  // What the engine is doing, while the character view is not there to show it.
  std::uint16_t shown = 0xffff;
  const bool terminal = isatty(STDERR_FILENO) != 0;
  loop.addTimer(0.1, 0.1, [&] {
    const std::uint16_t mode = programMode;
    const char* now = describeMode(mode);
    if (shown != 0xffff && describeMode(shown) == now) return;
    shown = mode;
    if (terminal) std::fprintf(stderr, "\r%-10s", now);
  });
  loop.run();
  if (terminal) std::fputs("\n", stderr);

  try {
    if (delegate.analyticsEnabled()) Beacon::shared()->endBeacon();
  } catch (const std::exception&) {
    // no controller: analytics is off for this run
  }
  AudioOutputUnitStop(audioUnit);
  AudioUnitUninitialize(audioUnit);
  AudioSessionSetActive(false);
  audioUnit = nullptr;
  platform::setAudioBackend(nullptr);
  if (const std::uint64_t gaps = device->underruns()) {
    if (gaps == 1) {
      std::fputs("quibblers: stopped; the loudspeaker ran short of sound once\n", stderr);
    } else {
      std::fprintf(stderr, "quibblers: stopped; the loudspeaker ran short of sound %llu times\n",
                   static_cast<unsigned long long>(gaps));
    }
  } else {
    std::fputs("quibblers: stopped\n", stderr);
  }
  return 0;
}
