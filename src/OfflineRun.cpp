#include "OfflineRun.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "EngineRandom.h"
#include "OfflineAudioBackend.h"
#include "PuppetAppDelegate.h"
#include "VoiceEngineState.h"
#include "WavFile.h"
#include "platform/audio_unit.h"
#include "platform/runloop.h"

int runOffline(const LaunchOptions& options) {
  platform::WavReadResult mic = platform::readMonoWav16(*options.mic);
  if (!mic.ok()) {
    std::fprintf(stderr, "quibblers: %s\n", mic.error.c_str());
    return 1;
  }
  const double seconds = static_cast<double>(mic.samples.size()) / 44100.0;

  platform::RunLoop& loop = platform::RunLoop::main();
  loop.useVirtualTime();
  auto device = std::make_shared<platform::OfflineAudioBackend>(std::move(mic.samples),
                                                                options.framesPerCycle, loop);
  platform::setAudioBackend(device);
  seedEngineRandom(1);  // the same recording always gets the same answer

  PuppetAppDelegate delegate;
  if (options.greeting) delegate.loadGreeting();
  delegate.initializeAudio();
  AudioSessionSetActive(true);

  const bool progress = isatty(STDERR_FILENO) != 0;
  device->setOnFinished([&loop] { loop.stop(); });
  if (progress) {
    loop.addTimer(1.0, 1.0, [&] {
      std::fprintf(stderr, "\ranswering: %.0f s of %.0f s", std::min(loop.now(), seconds), seconds);
    });
  }
  AudioOutputUnitStart(audioUnit);
  loop.run();
  if (progress) std::fprintf(stderr, "\r%40s\r", "");
  AudioUnitUninitialize(audioUnit);

  int status = 0;
  if (options.speaker) {
    const std::string error = platform::writeMonoWav16(*options.speaker, device->speakerOutput());
    if (!error.empty()) {
      std::fprintf(stderr, "quibblers: %s\n", error.c_str());
      status = 1;
    }
  }
  audioUnit = nullptr;
  platform::setAudioBackend(nullptr);
  return status;
}
