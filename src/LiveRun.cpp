#include "LiveRun.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "AppHost.h"
#include "CharacterVoices.h"
#include "DuplexAudioBackend.h"
#include "TerminationSignals.h"
#include "VoiceEngineState.h"
#include "platform/live_sound.h"
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

}  // namespace

int listDevices() {
  std::string why;
  const auto devices = platform::listLiveSoundDevices(why);
  if (!devices) return reportFailure(RunFailure::kNoDisplayOrSound, why + "; " + kTryOffline);
  std::fputs(devices->c_str(), stdout);
  return 0;
}

int runLive(const LaunchOptions& options, const AppSettings& stored) {
  int failed = 0;
  const auto sound = probeLiveAudio(options, failed);
  if (!sound) return failed;
  const auto& device = sound->device;
  InstalledAudio installed(device);
  if (const auto character = options.character ? options.character : stored.character) {
    useCharacterVoice(*character);
  }
  stored.applyTuning(!options.character);

  platform::RunLoop& loop = platform::RunLoop::main();
  int status = 0;
  std::unique_ptr<TerminationSignals> signals;
  platform::RunLoop::Id statusLine = 0;
  // What the engine is doing, while the character view is not there to show it.
  std::uint16_t shown = 0xffff;
  const bool terminal = isatty(STDERR_FILENO) != 0;
  runApp(options, {}, [&](UIApplication& app) {
    if (!device->unitInitialized()) {
      status = reportFailure(RunFailure::kNoDisplayOrSound,
                             "cannot open '" + sound->inputName + "' and '" + sound->outputName + "' (" +
                                 sound->apiName + "); " + kTryOffline);
      return app.terminate();
    }
    std::fprintf(stderr, "quibblers: listening on '%s', answering on '%s' (%s); Ctrl-C stops\n",
                 sound->inputName.c_str(), sound->outputName.c_str(), sound->apiName.c_str());
    signals = std::make_unique<TerminationSignals>(loop, [&app] { app.terminate(); });
    statusLine = loop.addTimer(0.1, 0.1, [&] {
      const std::uint16_t mode = programMode;
      const char* now = describeMode(mode);
      if (shown != 0xffff && describeMode(shown) == now) return;
      shown = mode;
      if (terminal) std::fprintf(stderr, "\r%-10s", now);
    });
  });
  if (statusLine) loop.cancelTimer(statusLine);
  if (status != 0) return status;
  if (terminal) std::fputs("\n", stderr);
  std::fputs("quibblers: stopped\n", stderr);
  return 0;
}
