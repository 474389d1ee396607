#include "EngineHarness.h"

#include <algorithm>

#include "AudioCallbacks.h"
#include "PuppetAppDelegateAudio.h"
#include "EngineRandom.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"
#include "platform/AudioFile.h"

EngineHarness::EngineHarness(UInt32 frames, bool greetingFirst)
    : frames_(frames), backend_(std::make_shared<RecordingAudioBackend>()) {
  if (!greetingFirst) resetVoiceEngineState();
  platform::setAudioBackend(backend_);
  PuppetAppDelegateAudio delegate;
  delegate.initializeAudio();
  seedEngineRandom(7);
  AudioSessionSetActive(true);
  AudioOutputUnitStart(audioUnit);
}

EngineHarness::~EngineHarness() {
  if (AudioFileID clip = greetingFileID; clip != nullptr) AudioFileClose(clip);
  greetingFileID = nullptr;
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
