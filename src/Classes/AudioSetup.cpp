// Audio set-up of the application delegate and the session's interruption and route-change
// listeners.
#include <cstdlib>
#include <cstring>

#include "AudioCallbacks.h"
#include "PuppetAppDelegateAudio.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"
#include "platform/AudioUnit.h"
#include "platform/Log.h"

namespace {

// The earpiece route: output is moved to the loudspeaker whenever the session reports it.
void overrideEarpieceRoute() {
  CFStringRef route;
  UInt32 size = sizeof(route);
  AudioSessionGetProperty(kAudioSessionProperty_AudioRoute, &size, &route);
  if (CFStringIsEqual(route, "ReceiverAndMicrophone")) {
    const UInt32 speaker = kAudioSessionOverrideAudioRoute_Speaker;
    AudioSessionSetProperty(kAudioSessionProperty_OverrideAudioRoute, sizeof(speaker), &speaker);
  }
}

void setPlayAndRecordCategory() {
  const UInt32 category = kAudioSessionCategory_PlayAndRecord;
  AudioSessionSetProperty(kAudioSessionProperty_AudioCategory, sizeof(category), &category);
}

// The capture buffer list with one 3072-sample buffer, zero-filled. It lives for the process:
// a second set-up reuses it rather than leaking the first.
void prepareCaptureBuffer() {
  AudioBufferList* list = audioBufferList;
  if (list == nullptr) {
    list = static_cast<AudioBufferList*>(std::calloc(1, sizeof(AudioBufferList)));
    if (list == nullptr) {
      NSLog("Can't allocate input buffers");
      return;
    }
    audioBufferList = list;
  }
  list->mNumberBuffers = 1;
  list->mBuffers[0].mNumberChannels = 1;
  list->mBuffers[0].mDataByteSize = kCaptureBufferBytes;
  if (list->mBuffers[0].mData == nullptr) list->mBuffers[0].mData = std::malloc(kCaptureBufferBytes);
  if (list->mBuffers[0].mData == nullptr) {
    NSLog("Can't allocate input buffers");
    return;
  }
  std::memset(list->mBuffers[0].mData, 0, kCaptureBufferBytes);
}

}  // namespace

void PuppetAppDelegateAudio::initializeAudio() {
  AudioSessionInitialize(nullptr, nullptr, interruptionListenerCallback, this);
  setPlayAndRecordCategory();
  overrideEarpieceRoute();
  AudioSessionAddPropertyListener(kAudioSessionProperty_AudioRouteChange, routeChangeCallback, nullptr);

  AudioComponentDescription description{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO,
                                        kAudioUnitManufacturer_Apple, 0, 0};
  AudioComponent component = AudioComponentFindNext(nullptr, &description);
  AudioUnit unit = nullptr;
  AudioComponentInstanceNew(component, &unit);
  audioUnit = unit;

  const UInt32 enable = 1;
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &enable,
                       sizeof(enable));
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &enable,
                       sizeof(enable));
  const AudioStreamBasicDescription format = kQuibblersStreamFormat;
  AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &format,
                       sizeof(format));
  AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format,
                       sizeof(format));
  const AURenderCallbackStruct input{recordingCallback, this};
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 1,
                       &input, sizeof(input));
  const AURenderCallbackStruct render{playbackCallback, this};
  AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Global, 0,
                       &render, sizeof(render));
  const UInt32 allocate = 0;
  AudioUnitSetProperty(unit, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 1,
                       &allocate, sizeof(allocate));
  AudioUnitInitialize(unit);

  prepareCaptureBuffer();
  setUpSoundTouch(realTimeWarmUp_);
  if (realTimeWarmUp_) touchEngineBuffers();
  programMode = greetingIsLoaded == 1 ? kModeGreeting : kModeListening;
}

void interruptionListenerCallback(void* /*inClientData*/, UInt32 inInterruptionState) {
  if (inInterruptionState == kAudioSessionBeginInterruption) {
    AudioOutputUnitStop(audioUnit);
    AudioSessionSetActive(false);
  } else if (inInterruptionState == kAudioSessionEndInterruption) {
    setPlayAndRecordCategory();
    AudioSessionSetActive(true);
    AudioOutputUnitStart(audioUnit);
  }
}

void routeChangeCallback(void* /*inClientData*/, AudioSessionPropertyID /*inID*/,
                         UInt32 /*inDataSize*/, const void* /*inData*/) {
  overrideEarpieceRoute();
}
