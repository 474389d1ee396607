#include "EngineHarness.h"

#include <algorithm>

#include "AudioCallbacks.h"
#include "EngineRandom.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"

namespace {
AudioBufferList* captureBufferList() {
  static std::int16_t data[kCaptureBufferSamples];
  static AudioBufferList list{1, {{1, kCaptureBufferBytes, data}, {0, 0, nullptr}}};
  return &list;
}
}  // namespace

EngineHarness::EngineHarness(UInt32 frames)
    : frames_(frames), backend_(std::make_shared<RecordingAudioBackend>()) {
  resetVoiceEngineState();
  platform::setAudioBackend(backend_);
  AudioComponentDescription description{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO,
                                        kAudioUnitManufacturer_Apple, 0, 0};
  AudioUnit unit = nullptr;
  AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &description), &unit);
  audioUnit = unit;
  const UInt32 one = 1;
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one, 4);
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &one, 4);
  AURenderCallbackStruct input{recordingCallback, nullptr};
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 1,
                       &input, sizeof input);
  AURenderCallbackStruct render{playbackCallback, nullptr};
  AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Global, 0,
                       &render, sizeof render);
  AudioUnitInitialize(unit);
  audioBufferList = captureBufferList();
  setUpSoundTouch();
  seedEngineRandom(7);
  programMode = kModeListening;
  AudioOutputUnitStart(unit);
}

EngineHarness::~EngineHarness() {
  AudioOutputUnitStop(audioUnit);
  audioUnit = nullptr;
  platform::setAudioBackend(nullptr);
  soundTouch.clear();
}

std::vector<std::int16_t> EngineHarness::blockAtLevel(std::int16_t level, UInt32 frames) {
  std::vector<std::int16_t> block(frames);
  for (UInt32 i = 0; i < frames; ++i) block[i] = static_cast<std::int16_t>(i % 2 ? -level : level);
  return block;
}

std::vector<std::int16_t> EngineHarness::cycle(const std::vector<std::int16_t>& microphone) {
  return backend_->cycle(microphone);
}

std::vector<std::int16_t> EngineHarness::cycleAtLevel(std::int16_t level) {
  return cycle(blockAtLevel(level, frames_));
}

std::vector<std::int16_t> EngineHarness::run(const std::vector<std::int16_t>& signal,
                                             unsigned extraCycles) {
  std::vector<std::int16_t> out;
  std::vector<std::int16_t> block(frames_);
  const std::size_t cycles = (signal.size() + frames_ - 1) / frames_ + extraCycles;
  for (std::size_t c = 0; c < cycles; ++c) {
    const std::size_t at = c * frames_;
    std::fill(block.begin(), block.end(), 0);
    if (at < signal.size()) {
      std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(at),
                  std::min<std::size_t>(frames_, signal.size() - at), block.begin());
    }
    const auto speaker = cycle(block);
    out.insert(out.end(), speaker.begin(), speaker.end());
  }
  return out;
}
