// The playback renderer: plays the processed recording (or the greeting while it is produced)
// and publishes the level of each block for the character's mouth.
#include <cstdint>
#include <cstring>

#include "AudioCallbacks.h"
#include "VoiceEngineState.h"

namespace {

void silenceFirstBuffer(AudioBufferList* data) {
  if (data == nullptr || data->mNumberBuffers < 1 || data->mBuffers[0].mData == nullptr) return;
  std::memset(data->mBuffers[0].mData, 0, data->mBuffers[0].mDataByteSize);
}

// Level of the samples this call is about to play, before any is copied.
void publishLevel(std::uint32_t offset, std::uint32_t end, UInt32 frames) {
  std::uint32_t sum = 0;
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < frames && offset + i < end; ++i) {
    const std::int32_t s = bigPlaybackBuffer[offset + i];
    sum += static_cast<std::uint32_t>(s < 0 ? -s : s);
    ++count;
  }
  averageLevel = static_cast<std::uint16_t>(count ? sum / count : 0);
}

void copyOut(AudioBufferList* data, std::uint32_t end) {
  if (data == nullptr) return;
  const UInt32 buffers = data->mNumberBuffers < 2 ? data->mNumberBuffers : 2;
  for (UInt32 b = 0; b < buffers; ++b) {
    AudioBuffer& buffer = data->mBuffers[b];
    if (buffer.mData == nullptr) continue;
    auto* out = static_cast<std::int16_t*>(buffer.mData);
    const std::uint32_t capacity = buffer.mDataByteSize / 2;
    const std::uint32_t offset = playbackOffset;
    const std::uint32_t remaining = end > offset ? end - offset : 0;
    if (remaining == 0) {
      std::memset(buffer.mData, 0, buffer.mDataByteSize);
      programMode = kModePlaybackFinished;
      return;
    }
    if (remaining >= capacity) {
      std::memcpy(out, &bigPlaybackBuffer[offset], capacity * sizeof(std::int16_t));
      playbackOffset = offset + capacity;
    } else {
      std::memcpy(out, &bigPlaybackBuffer[offset], remaining * sizeof(std::int16_t));
      playbackOffset = offset + remaining;
      std::memset(out + remaining, 0, (capacity - remaining) * sizeof(std::int16_t));
    }
  }
}

}  // namespace

OSStatus playbackCallback(void* /*inRefCon*/, AudioUnitRenderActionFlags* /*ioActionFlags*/,
                          const AudioTimeStamp* /*inTimeStamp*/, UInt32 /*inBusNumber*/,
                          UInt32 inNumberFrames, AudioBufferList* ioData) {
  const UInt32 frames = inNumberFrames;
  const std::uint32_t end = playbackEnd;
  const std::uint16_t mode = programMode;
  if (mode == kModePlaying || (mode == kModeGreeting && frames < end)) {
    publishLevel(playbackOffset, end, frames);
    copyOut(ioData, end);
  } else {
    silenceFirstBuffer(ioData);
  }

  if (programMode == kModePlaybackFinished) {
    programMode = kModeListening;
    maxRecordingLevels = 0;
    greetingPlayBackOffset = 0;
    playbackEnd = 0;
    playbackOffset = 0;
    greetingCounterSoundTouch = 0;
    greetingCounter = 0;
  }
  return 0;
}
