#include "OfflineRun.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "AudioCallbacks.h"
#include "EngineRandom.h"
#include "OfflineAudioBackend.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"
#include "WavFile.h"
#include "platform/runloop.h"

namespace {

// Registers the callbacks on the unit and prepares the capture buffer and the processor.
void setUpEngine() {
  AudioComponentDescription description{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO,
                                        kAudioUnitManufacturer_Apple, 0, 0};
  AudioUnit unit = nullptr;
  AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &description), &unit);
  audioUnit = unit;
  const UInt32 one = 1;
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one, 4);
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &one, 4);
  AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                       &kQuibblersStreamFormat, sizeof kQuibblersStreamFormat);
  AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                       &kQuibblersStreamFormat, sizeof kQuibblersStreamFormat);
  AURenderCallbackStruct input{recordingCallback, nullptr};
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 1,
                       &input, sizeof input);
  AURenderCallbackStruct render{playbackCallback, nullptr};
  AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Global, 0,
                       &render, sizeof render);
  AudioUnitInitialize(unit);
  static std::int16_t captureData[kCaptureBufferSamples];
  static AudioBufferList captureList{1, {{1, kCaptureBufferBytes, captureData}, {0, 0, nullptr}}};
  audioBufferList = &captureList;
  setUpSoundTouch();
  touchEngineBuffers();
  programMode = kModeListening;
}

}  // namespace

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
  setUpEngine();

  const bool progress = isatty(STDERR_FILENO) != 0;
  double reported = 0.0;
  device->setOnFinished([&loop] { loop.stop(); });
  if (progress) {
    loop.addTimer(1.0, 1.0, [&] {
      if (loop.now() - reported < 1.0) return;
      reported = loop.now();
      std::fprintf(stderr, "\ranswering: %.0f s of %.0f s", std::min(loop.now(), seconds), seconds);
    });
  }
  AudioOutputUnitStart(audioUnit);
  loop.run();
  if (progress) std::fprintf(stderr, "\r%40s\r", "");

  int status = 0;
  if (options.speaker) {
    const std::string error = platform::writeMonoWav16(*options.speaker, device->speakerOutput());
    if (!error.empty()) {
      std::fprintf(stderr, "quibblers: %s\n", error.c_str());
      status = 1;
    }
  }
  platform::setAudioBackend(nullptr);
  return status;
}
