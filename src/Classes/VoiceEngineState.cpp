#include "VoiceEngineState.h"

#include <new>

VoiceEngineState voiceEngineState;

void resetVoiceEngineState() {
  AudioBufferList* keptList = voiceEngineState.audioBufferList;
  AudioUnit keptUnit = voiceEngineState.audioUnit;
  // Same storage, same type: the names above stay bound to the fresh object.
  voiceEngineState.~VoiceEngineState();
  new (&voiceEngineState) VoiceEngineState();
  voiceEngineState.audioBufferList = keptList;
  voiceEngineState.audioUnit = keptUnit;
}

void touchEngineBuffers() {
  volatile std::int16_t* samples = voiceEngineState.bigPlaybackBuffer;
  for (std::uint32_t i = 0; i < kBigPlaybackBufferSamples; i += 2048) samples[i] = samples[i];
}
