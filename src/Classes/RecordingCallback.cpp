// The capture state machine: listening, recording, greeting and finishing, one input cycle per
// call. The order of the updates below is part of the engine's behaviour (the main thread may
// look at any variable between two of them).
#include <cstdint>

#include "AudioCallbacks.h"
#include "EngineRandom.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"
#include "platform/AudioFile.h"
#include "platform/AudioUnit.h"

namespace {

// The capture buffer's samples when it exists and can hold `frames` samples, else null: a block
// that does not fit is never written into it.
std::int16_t* captureSamples(UInt32 frames) {
  AudioBufferList* list = audioBufferList;
  if (list == nullptr || list->mNumberBuffers < 1 || list->mBuffers[0].mData == nullptr) return nullptr;
  if (list->mBuffers[0].mDataByteSize / 2 < frames) return nullptr;
  return static_cast<std::int16_t*>(list->mBuffers[0].mData);
}

// Level of the block: the mean absolute sample value, the remainder dropped.
void measureLevel(const std::int16_t* samples, std::uint32_t n) {
  if (n == 0) {
    averageLevel = 0;
    averageLevelRunning = 0;
    return;
  }
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int32_t s = samples[i];
    sum += static_cast<std::uint32_t>(s < 0 ? -s : s);
  }
  const std::uint32_t level = sum / n;
  averageLevel = static_cast<std::uint16_t>(level);
  const std::uint32_t running = averageLevelRunning;
  averageLevelRunning = static_cast<std::uint16_t>(level > running ? (63 * running + level) >> 6
                                                                   : (7 * running + level) >> 3);
}

void startGreeting() {
  greetingCounter = 0;
  greetingCounterSoundTouch = 0;
  greetingPlayBackOffset = 0;
  playbackOffset = 0;
  playbackEnd = 0;
  programMode = kModeGreeting;
  if (engineRandom() % 6 == 0) {
    greetingCounterMax = 1;
  } else {
    greetingCounterMax = static_cast<std::uint16_t>(engineRandom() % 700);
  }
}

// Listening: two loud blocks in a row start a recording; enough quiet ones a loaded greeting.
void listen() {
  const std::uint16_t level = averageLevel;
  if (level >= monitoringThreshold) {
    monitoringCounter += 1;
  } else {
    monitoringCounter = 0;
    greetingCounter += 1;
    if (greetingCounter > greetingCounterMax && greetingIsLoaded == 1) {
      startGreeting();
      return;
    }
  }
  if (monitoringCounter >= monitoringCounterMax) {
    recordingCounter = 0;
    programMode = kModeRecording;
    monitoringCounter = 0;
    playbackEnd = 0;
    playbackOffset = 0;
    maxRecordingLevels = 0;
  }
}

void endGreeting() {
  greetingCounter = 0;
  greetingCounterSoundTouch = 0;
  playbackEnd = 0;
  greetingPlayBackOffset = 0;
  playbackOffset = 0;
  soundTouch.clear();
  programMode = kModeListening;
}

// Recording or greeting: the block goes through the processor into the playback buffer.
void process(const std::int16_t* samples, std::uint32_t n, UInt32 frames) {
  if (playbackEnd + frames > kPlaybackFillLimit) {
    programMode = kModeFinishing;
    return;
  }
  soundTouch.putSamples(samples, n);
  const std::uint32_t end = playbackEnd;
  playbackEnd = end + soundTouch.receiveSamples(&bigPlaybackBuffer[end], frames);

  const std::uint16_t mode = programMode;
  if (mode != kModeRecording && mode != kModeGreeting) return;
  if (maxRecordingLevels < averageLevel) maxRecordingLevels = averageLevel.load();
  if (mode == kModeRecording) {
    if (averageLevel > recordingThreshold) {
      recordingCounter = 0;
    } else {
      recordingCounter += 1;
    }
    if (recordingCounter >= recordingCounterMax) programMode = kModeFinishing;
  } else {
    greetingCounterSoundTouch += 1;
    // A clip that has run out before playback could begin would otherwise leave the engine in
    // the greeting, silent and deaf: nothing more comes in and playback never starts.
    const bool starved = n == 0 && playbackEnd <= frames;
    if (soundTouch.numUnprocessedSamples() == 0 || starved) endGreeting();
  }
}

// Finishing: what the processor still holds goes into the remaining room; then play it all.
void finish() {
  soundTouch.flush();
  for (;;) {
    const std::uint32_t end = playbackEnd;
    const unsigned got = soundTouch.receiveSamples(&bigPlaybackBuffer[end], kPlaybackFillLimit - end);
    playbackEnd = end + got;
    if (got == 0) break;
  }
  soundTouch.clear();
  playbackOffset = 0;
  programMode = kModePlaying;
}

}  // namespace

OSStatus recordingCallback(void* /*inRefCon*/, AudioUnitRenderActionFlags* ioActionFlags,
                           const AudioTimeStamp* inTimeStamp, UInt32 /*inBusNumber*/,
                           UInt32 inNumberFrames, AudioBufferList* /*ioData*/) {
  const UInt32 frames = inNumberFrames;
  const Voice voice = voiceEngineState.voice.take();  // pitch and tempo from one publication
  soundTouch.setPitch(voice.quibblePitch);
  soundTouch.setTempo(voice.quibbleTimeStretch);

  std::int16_t* capture = captureSamples(frames);
  if (capture == nullptr) return 0;  // no capture buffer, or a block too large for it: skip it

  std::uint32_t n = 0;
  if (programMode <= kModeRecording) {
    AudioUnitRender(audioUnit, ioActionFlags, inTimeStamp, 1, frames, audioBufferList);
    n = frames;
  }
  if (programMode == kModeGreeting) {
    // Only a clip still armed when this read began is marked exhausted by it: one the loader
    // re-armed meanwhile keeps its mark.
    const bool armed = greetingIsLoaded == 1;
    UInt32 bytes = 0;
    UInt32 packets = frames;
    AudioFileReadPackets(greetingFileID, false, &bytes, nullptr,
                         static_cast<std::int64_t>(std::uint64_t{greetingPlayBackOffset}), &packets,
                         capture);
    n = bytes / 2;
    if (n > frames) n = frames;
    greetingPlayBackOffset += n;
    if (n == 0 && armed) greetingIsLoaded = 0;
  }

  const std::uint16_t mode = programMode;
  if (mode != kModePlaying && mode != kModePlaybackFinished && mode != kModeFinishing) {
    measureLevel(capture, n);
    if (programMode == kModeListening) listen();
    const std::uint16_t now = programMode;
    if (now == kModeRecording || now == kModeGreeting) process(capture, n, frames);
  }
  if (programMode == kModeFinishing) finish();
  return 0;
}
